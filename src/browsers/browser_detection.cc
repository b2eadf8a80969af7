#include "browsers/browser_detection.h"

#include <cstdlib>

#include "base/text.h"
#include "base/regex_text.h"
#include "platform/browser_programs.h"
#include "platform/text_codec.h"

namespace quil {
namespace {

constexpr int kMinChromeMajor = 43;
constexpr int kMinFirefoxMajor = 38;

std::string DefaultName(platform::DefaultBrowser d) {
  switch (d) {
    case platform::DefaultBrowser::kChrome: return kChromeName;
    case platform::DefaultBrowser::kFirefox: return kFirefoxName;
    case platform::DefaultBrowser::kEdge: return kEdgeName;
    case platform::DefaultBrowser::kInternetExplorer: return "Internet Explorer";
    case platform::DefaultBrowser::kNone: break;
  }
  return {};
}

void Add(std::vector<InstalledBrowser>& list, const char* id, const char* name, const platform::BrowserProgram& program,
         std::string version) {
  InstalledBrowser b;
  b.id = id;
  b.name = name;
  b.path = program.path;
  b.args = program.args;
  b.package = program.package;
  b.version = std::move(version);
  list.push_back(std::move(b));
}

}  // namespace

MajorVersion majorVersion(const std::string& version) {
  std::string major = RegexReplace(version, "^([0-9]+)(\\.[0-9]+)*$", "$1");
  return {!major.empty(), std::atoi(major.c_str())};
}

void markDefault(std::vector<InstalledBrowser>& list, const std::string& default_name) {
  std::string name = default_name;
  if (name.empty())
    for (const auto& b : list)
      if (b.id == kEdgeId) name = kEdgeName;
  if (name.empty()) return;
  for (auto& b : list) b.isDefault = b.name == name;
}

void preselect(std::vector<InstalledBrowser>& list, const std::string& selection, const std::string& mode) {
  for (auto& b : list) b.selected = false;
  const bool single = mode == "S";
  for (const auto& token : SplitNonEmpty(selection, ',')) {
    for (auto& b : list) {
      if (token == "ALL") {
        if (!single) b.selected = true;
      } else if (token == "DEFAULT") {
        if (b.isDefault) b.selected = true;
      } else if (b.name == token) {
        b.selected = true;
      }
      // In single mode the first selection ends the preselection.
      if (single && b.selected) return;
    }
  }
}

std::vector<InstalledBrowser> detectBrowsers(const std::string& selection, const std::string& mode) {
  std::vector<InstalledBrowser> list;
  platform::BrowserPrograms programs = platform::FindBrowserPrograms();
  // Edge is served in every version; its version is not needed.
  if (!programs.edge.path.empty()) Add(list, kEdgeId, kEdgeName, programs.edge, "");
  if (!programs.chrome.path.empty()) {
    std::string version = platform::ExecutableVersion(programs.chrome);
    if (majorVersion(version).value >= kMinChromeMajor) Add(list, kChromeId, kChromeName, programs.chrome, version);
  }
  if (!programs.chrome64.path.empty()) {
    std::string version = platform::ExecutableVersion(programs.chrome64);
    if (majorVersion(version).value >= kMinChromeMajor)
      Add(list, kChrome64Id, kChrome64Name, programs.chrome64, version);
  }
  if (!programs.firefox.path.empty()) {
    std::string version = platform::ExecutableVersion(programs.firefox);
    MajorVersion major = majorVersion(version);
    if (major.present && major.value >= kMinFirefoxMajor)
      Add(list, kFirefoxId, kFirefoxName, programs.firefox, version);
  }
  markDefault(list, DefaultName(programs.default_browser));
  preselect(list, selection, mode);
  return list;
}

}  // namespace quil
