#pragma once
// Folders and environment of the current user. All paths are UTF-8 and use
// "/" as separator.
#include <string>

namespace quil::platform {

// The value of an environment variable, empty when unset.
std::string GetEnv(const char* name);

// The user's profile folder (USERPROFILE on Windows): $HOME.
std::string HomeFolder();

// $TMPDIR, else /tmp; never ends in "/".
std::string TempFolder();

// Full path of the running program (/proc/self/exe).
std::string ProgramPath();

// The desktop folder: `xdg-user-dir DESKTOP`, else $HOME/Desktop.
std::string DesktopFolder();

// $XDG_CONFIG_HOME/quil (default ~/.config/quil): the registry hive lives here.
std::string ConfigFolder();

// $XDG_DATA_HOME/quil (default ~/.local/share/quil): certificate stores.
std::string DataFolder();

// $XDG_STATE_HOME/quil (default ~/.local/state/quil): browser profile, demo data.
std::string StateFolder();

// Creates the folder and its parents (mode 0700 for new ones); true when it
// exists afterwards.
bool MakeFolders(const std::string& path);

}  // namespace quil::platform
