#pragma once
// Program files that this program fetches and starts: its own update and
// the operator's installers. Paths are UTF-8.
#include <chrono>
#include <optional>
#include <string>

namespace quil::platform {

// True when `path` holds a whole program that this machine runs the way it
// runs this one. Linux: an ELF executable or shared object of the running
// program's class, byte order and architecture, whose program headers,
// loaded segments and section headers all lie inside the file (so an
// error page or a cut-off download is refused).
bool IsProgramForThisMachine(const std::string& path);

// Runs the program file at `path` with the one argument "--version"
// (standard input and error on the null device) and gives what it wrote
// to standard output, when it ended by itself with exit status 0 within
// `limit`; nothing otherwise (one still running then is killed). Blocks.
std::optional<std::string> ProgramVersionOutput(const std::string& path, std::chrono::milliseconds limit);

// Gives the file the permission bits `mode` where the platform has them
// (0755 for a program anyone may run, 0700 for the user's own): 0 or the
// errno of the failure.
int SetProgramMode(const std::string& path, unsigned mode);

}  // namespace quil::platform
