#include "proxy/settings_loader.h"

#include <optional>

#include "base/regex_text.h"
#include "base/settings.h"
#include "base/text.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/text_codec.h"
#include "proxy/actions.h"

namespace quil {
namespace {

// The operator's settings that hold a folder or file path; they are
// written for Windows clients.
constexpr const char* kPathSettings[] = {"default.pfxFilePath", "default.pfxFileName"};

// Plain text replacement: the values are paths that may hold "$", which a
// regex replacement would read as a group reference.
std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string StoreName(const std::string& part) {
  return part == "pfx" || part == "ieCertStore" ? part : std::string();
}

// Splits "first,second" into two store names; a text that does not match
// counts as a single part.
std::pair<std::string, std::string> StoreOrder(const std::string& text) {
  auto m = RegexSearch(text, "^([^,]+),?([^,]+)?$");
  if (!m) return {StoreName(text), ""};
  return {StoreName((*m)[1].value_or("")), StoreName((*m)[2].value_or(""))};
}

// The desktop as a folder under the profile: only its last path element.
std::string DesktopUnderHome(const std::string& home, const std::string& desktop, char separator) {
  if (desktop.empty()) return home;
  return home + separator + LastPathElement(desktop);
}

std::optional<FieldMap> LoadFromProxy() {
  auto cfg = proxy::getSysCfg();
  if (cfg.code != 0) return std::nullopt;
  return CompleteSettings(std::move(cfg.fields),
                          platform::ToNarrow(platform::WithPreferredSeparators(platform::HomeFolder())),
                          platform::ToNarrow(platform::WithPreferredSeparators(platform::DesktopFolder())),
                          platform::PreferredSeparator());
}

}  // namespace

namespace proxy {

void InstallSettingsLoader(std::function<void(const FieldMap&)> on_loaded) {
  if (!on_loaded) {
    SetSettingsLoader(&LoadFromProxy);
    return;
  }
  SetSettingsLoader([on_loaded = std::move(on_loaded)]() -> std::optional<FieldMap> {
    auto loaded = LoadFromProxy();
    if (loaded) on_loaded(*loaded);
    return loaded;
  });
}

}  // namespace proxy

FieldMap CompleteSettings(FieldMap map, const std::string& home, const std::string& desktop, char separator) {
  for (const char* key : kPathSettings) {
    auto it = map.find(key);
    if (it != map.end()) it->second = WithSeparator(it->second, separator);
  }
  map["userIdno"] = "";
  map["cn"] = "";
  map["env.userHome"] = home;
  map["env.userDeskTop"] = DesktopUnderHome(home, desktop, separator);

  std::string path = FieldOf(map, "default.pfxFilePath");
  if (path.empty() || !LastPathElement(path).empty()) path.push_back(separator);
  path += FieldOf(map, "default.pfxFileName");
  // Plain text replacement: the values are paths that may hold "$", which a
  // regex replacement would read as a group reference.
  path = ReplaceAll(path, "#userHome#", FieldOf(map, "env.userHome"));
  path = ReplaceAll(path, "#desktop#", FieldOf(map, "env.userDeskTop"));
  path = ReplaceAll(path, "#userId#", FieldOf(map, "userId"));
  path = ReplaceAll(path, "#cn#", FieldOf(map, "cn"));
  map["env.userPfxFilePath"] = path;

  map["env.userPfxFilePwd"] = "";
  map["env.userPrivateKeyFolder"] = home + separator + "MERO";

  auto write = StoreOrder(FieldOf(map, "cert.expType"));
  map["env.write.primaryCertStore"] = write.first;
  map["env.write.secondaryCertStore"] = write.second;
  auto read = StoreOrder(FieldOf(map, "cert.readOrder"));
  map["env.read.primaryCertStore"] = read.first;
  map["env.read.secondaryCertStore"] = read.second;
  return map;
}

}  // namespace quil
