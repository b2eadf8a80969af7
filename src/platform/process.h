#pragma once
// Starting programs and handing targets to the desktop shell.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace quil::platform {

// Starts `program` with `args` as a detached process (no handles inherited
// beyond stdio to /dev/null). Returns false when it could not be started.
bool StartProcess(const std::string& program, const std::vector<std::string>& args);

// Starts a new copy of this program (a restart): detached like
// StartProcess, but writing to this process's standard output and error,
// so whoever reads them learns the new copy's page address. Its process id,
// or 0 when it could not be started.
long StartProgramCopy(const std::string& program, const std::vector<std::string>& args);

// True when `name` is an executable found on PATH (or an absolute path).
bool HasProgram(const std::string& name);

// Opens a file, folder or URL with the desktop's default handler (xdg-open).
bool ShellOpen(const std::string& target);

// Shows `path` selected in the file manager when the desktop offers that
// (Linux: ShowItems of org.freedesktop.FileManager1 on the session bus,
// with the file's percent-encoded URI), else opens its folder with
// ShellOpen. True when the file manager answered or the folder's handler
// was started. Blocks until the file manager answers.
bool ShowInFileManager(const std::string& path);

// A program started with its standard output on a pipe to us (the demo
// proxy, which prints its address) and its standard input on a pipe whose
// other end only this process holds: the program reads the end of its
// input once this process has ended, in whatever way (also killed or
// crashed). Destroying it closes that pipe first, then asks the program to
// stop (SIGTERM; on Windows it is terminated) and waits for it at most
// 1.5 s before it is killed: never for ever.
class ChildProcess {
 public:
  virtual ~ChildProcess() = default;
  // One line of its output without the line break; "" when none came
  // within `timeout` or the output ended.
  virtual std::string ReadLine(std::chrono::seconds timeout) = 0;
  // Its process id.
  virtual int Id() const = 0;
  // Leaves it running when this object goes: a successor of this program
  // takes it over (TakeOverChildProcess). On Linux a copy started by
  // StartProgramCopy holds the input pipe too, so the program runs until
  // the last of them ends; on Windows it ends with this process.
  virtual void Release() = 0;
};
// Nothing when the program could not be started. The program starts with
// ordinary signal handling whatever this process blocks.
std::unique_ptr<ChildProcess> StartChildProcess(const std::string& program, const std::vector<std::string>& args);
// A program that a predecessor of this one started and released: process
// `id`, when it still runs the program file named `program_name` (Linux:
// with exactly `args`), so a number since given to another process is
// never taken. Nothing otherwise. It has no output to read; destroying it
// stops it as above.
std::unique_ptr<ChildProcess> TakeOverChildProcess(int id, const std::string& program_name,
                                                   const std::vector<std::string>& args);

// The id of this process, and whether a process with that id runs (an id
// of a process that has ended may be given to a new one later; one that
// has ended and is not yet collected does not run).
long CurrentProcessId();
bool ProcessIsRunning(long id);

// Ends process `id`, one this program started: asks it to stop, and kills
// it when it still runs after `grace`. Returns once it has ended or `grace`
// and a short wait for the kill have passed.
void EndProcess(long id, std::chrono::milliseconds grace);

// Sets an environment variable of this process (and of programs it starts).
void SetEnv(const std::string& name, const std::string& value);

// Stop requests from outside (Ctrl+C and SIGTERM; on Windows Ctrl+C, Ctrl+Break
// and closing the console). CatchStopRequests, before any thread starts,
// turns them from ending the process into what WaitForStopRequest sees.
void CatchStopRequests();
// Waits up to `timeout`; true when a stop was requested.
bool WaitForStopRequest(std::chrono::milliseconds timeout);

// A Chromium-family browser that can show a page as an app window: the
// program and the arguments this platform needs for it beyond the common ones.
struct AppModeBrowser {
  std::string program;
  std::vector<std::string> extra_args;
};
// The installed ones, best first (Linux: Chromium, then Chrome, on PATH;
// Windows: Microsoft Edge, then Chrome).
std::vector<AppModeBrowser> FindAppModeBrowsers();
// Why no window can be shown in this session; "" when one can.
std::string NoDisplayReason();

}  // namespace quil::platform
