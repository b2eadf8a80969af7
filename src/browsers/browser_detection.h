#pragma once
// The supported browsers installed on this computer, in a version the
// deployment can serve, with the customer's default and the preselection
// for the deployment. Candidates come from the platform
// (platform/browser_programs.h); the rules here are the same everywhere.
#include <string>
#include <vector>

#include "platform/browser_programs.h"

namespace quil {

// One detected browser. Names are compared exactly, letter case included.
struct InstalledBrowser {
  std::string id;       // "1" Microsoft Edge, "2" Chrome, "3" FireFox, "4" Chrome 64
  std::string name;     // the name the selection page and the settings use (narrow)
  std::string path;     // the program that starts it (wide)
  std::string version;  // four dotted numbers, "" when unknown
  bool selected = false;
  bool isDefault = false;
  // The arguments before the address (platform::kAddressArgument marks its
  // place, else it goes last) and how the browser was installed.
  std::vector<std::string> args;
  platform::BrowserPackage package = platform::BrowserPackage::kNative;
};

inline constexpr char kEdgeId[] = "1";
inline constexpr char kChromeId[] = "2";
inline constexpr char kFirefoxId[] = "3";
inline constexpr char kChrome64Id[] = "4";

inline constexpr char kEdgeName[] = "Microsoft Edge";
inline constexpr char kChromeName[] = "Chrome";
inline constexpr char kFirefoxName[] = "FireFox";
inline constexpr char kChrome64Name[] = "Chrome 64";

// Microsoft Edge (any version), Chrome and Chrome 64 from major version 43,
// FireFox from 38, in that order (each only when found); the default
// browser marked; then preselected by `selection` (comma-separated tokens:
// "ALL", "DEFAULT" or a name) under `mode` ("S": preselection stops at the
// first selected entry, and "ALL" selects nothing). Never
// fails: an empty list is a valid answer. Runs each found browser to read
// its version, so it takes a moment.
std::vector<InstalledBrowser> detectBrowsers(const std::string& selection, const std::string& mode);

// The leading number of a version ("43.0.1.2" gives 43; a version that is
// not dotted numbers gives atoi of the whole text, usually 0); `present` is
// false when the major text is empty.
struct MajorVersion {
  bool present = false;
  int value = 0;
};
MajorVersion majorVersion(const std::string& version);

// The default and preselection rules on a list already built (detection's
// last two steps, exposed for tests). `default_name` is the name of the
// platform's default ("Chrome", "FireFox", "Microsoft Edge", "Internet
// Explorer"), or "" when it names none: then Microsoft Edge, when listed.
void markDefault(std::vector<InstalledBrowser>& list, const std::string& default_name);
void preselect(std::vector<InstalledBrowser>& list, const std::string& selection, const std::string& mode);

}  // namespace quil
