#pragma once
// Where this computer's web browsers are installed, which one is the
// user's default, and the version of a browser's executable. The rules of
// which browsers count and from which version live above this layer
// (browsers/browser_detection.h); this layer only finds candidates.
//
// Linux: the first candidate found wins within each browser, from PATH and
// fixed installation paths, else from the Exec line of the XDG application
// entries (*.desktop); the default comes from the XDG mimeapps.list files;
// versions from running the executable with --version. Windows would read
// its registry keys, program folders and version resources.
#include <string>

namespace quil::platform {

enum class DefaultBrowser { kNone, kEdge, kChrome, kFirefox, kInternetExplorer };

struct BrowserPrograms {
  // Executable paths; "" when not found.
  std::string edge;      // Microsoft Edge
  std::string chrome;    // Chrome, or Chromium under that name
  std::string chrome64;  // Chrome's unstable channel
  std::string firefox;
  DefaultBrowser default_browser = DefaultBrowser::kNone;
};

// Blocks briefly (file system only). Never fails: what is not found stays "".
BrowserPrograms FindBrowserPrograms();

// The executable's version as four dotted numbers ("156.0.8078.129"), or ""
// when it has none. Linux: the first dotted number the program prints for
// --version (run without a display, ended after a few seconds), completed
// to four numbers. Blocks while the program runs.
std::string ExecutableVersion(const std::string& path);

// Ends a version query after this long (tests); 0 restores the default.
void SetVersionTimeoutForTesting(int milliseconds);

// Fixed installation paths (/opt/...) are looked for under `root` instead
// of "/" (tests); "" restores "/".
void SetInstallRootForTesting(const std::string& root);

}  // namespace quil::platform
