#pragma once
// Starting programs and handing targets to the desktop shell.
#include <string>
#include <vector>

namespace quil::platform {

// Starts `program` with `args` as a detached process (no handles inherited
// beyond stdio to /dev/null). Returns false when it could not be started.
bool StartProcess(const std::string& program, const std::vector<std::string>& args);

// True when `name` is an executable found on PATH (or an absolute path).
bool HasProgram(const std::string& name);

// Opens a file, folder or URL with the desktop's default handler (xdg-open).
bool ShellOpen(const std::string& target);

// Shows `path` selected in the file manager when the desktop offers that
// (org.freedesktop.FileManager1), else opens its folder.
bool ShowInFileManager(const std::string& path);

}  // namespace quil::platform
