#pragma once
// Ending and restarting the program, as the page asks with closeApp and
// openApp. The host installs what "end" means; the bridge only asks.
#include <functional>
#include <string>
#include <vector>

namespace quil {

// Installed by the host: ends the program cleanly (the window closes, the
// server stops). Called on the application thread; must not block.
void SetQuitHandler(std::function<void()> handler);
void RequestQuit();

// The command line a restart runs: the program file and its options.
void SetRestartCommand(std::vector<std::string> argv);

// Starts a new copy with the same command line, waits the restart delay
// (2000 ms), then ends this one. A copy that cannot be started is not
// reported: this one still ends.
void RestartApp();
void SetRestartDelayForTesting(int ms);

// Whether this process has started its successor (openApp, the update),
// which then takes over what the host leaves running for it.
void NoteSuccessorStarted();
bool SuccessorStarted();

}  // namespace quil
