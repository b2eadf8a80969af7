#pragma once
// Where this computer's web browsers are installed, which one is the
// user's default, and the version of a browser's executable. The rules of
// which browsers count and from which version live above this layer
// (browsers/browser_detection.h); this layer only finds candidates.
//
// Linux: the first candidate found wins within each browser, from PATH and
// fixed installation paths (a snap under /snap/bin counts as installed
// there, also when PATH reaches it through a distribution's wrapper
// script), else from the Exec line of the XDG application entries
// (*.desktop) and of the entries Flatpak exports ("flatpak run <app>");
// the default comes from the XDG mimeapps.list files; versions from
// running the browser with --version. Windows reads its registry keys,
// program folders and version resources.
#include <string>
#include <vector>

namespace quil::platform {

enum class DefaultBrowser { kNone, kEdge, kChrome, kFirefox, kInternetExplorer };

// How a browser was installed; it decides where its certificate database
// lives (platform/browser_cert_db.h).
enum class BrowserPackage { kNative, kSnap, kFlatpak };

// The argument that stands for the address in BrowserProgram::args.
inline constexpr char kAddressArgument[] = "%u";

// One installed browser and how it is started.
struct BrowserProgram {
  std::string path;               // the program to run; "" when not found
  std::vector<std::string> args;  // before the address; kAddressArgument marks its place, else it goes last
  BrowserPackage package = BrowserPackage::kNative;
};

struct BrowserPrograms {
  BrowserProgram edge;      // Microsoft Edge
  BrowserProgram chrome;    // Chrome, or Chromium under that name
  BrowserProgram chrome64;  // Chrome's unstable channel
  BrowserProgram firefox;
  DefaultBrowser default_browser = DefaultBrowser::kNone;
};

// Blocks briefly (file system only). Never fails: what is not found stays "".
BrowserPrograms FindBrowserPrograms();

// The executable's version as four dotted numbers ("156.0.8078.129"), or ""
// when it has none. Linux: the first dotted number the program prints for
// --version (run without a display, ended after a few seconds), completed
// to four numbers. Blocks while the program runs.
std::string ExecutableVersion(const std::string& path);
// The same for a browser as it is started (a Flatpak's "flatpak run ...").
std::string ExecutableVersion(const BrowserProgram& program);

// Ends a version query after this long (tests); 0 restores the default.
void SetVersionTimeoutForTesting(int milliseconds);

// Fixed installation paths (/opt/..., /snap/bin/..., Flatpak's system
// exports under /var/lib/flatpak) are looked for under `root` instead of
// "/" (tests); "" restores "/".
void SetInstallRootForTesting(const std::string& root);

}  // namespace quil::platform
