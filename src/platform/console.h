#pragma once
// The terminal quil's command-line output goes to.

namespace quil::platform {

// Windows: quil.exe is a GUI program, so started from the Start menu it
// opens no console window; started from a command prompt without
// redirection it has no standard handles either. Then this attaches to the
// prompt's console and points the missing standard streams at it (the
// prompt does not wait for a GUI program: its next prompt may come first).
// Handles that were given (pipes, files, Wine's terminal) stay as they
// are. Linux: nothing to do. Call before anything is printed.
void UseParentConsole();

}  // namespace quil::platform
