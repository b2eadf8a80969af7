#include "browsers/signing_component.h"

#include <nlohmann/json.hpp>

#include "base/files.h"
#include "build_config.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text_codec.h"
#include "base/settings.h"

namespace quil {
namespace {

std::vector<std::string> ManifestFolders() {
  std::string config = platform::GetEnv("XDG_CONFIG_HOME");
  if (config.empty()) config = platform::HomeFolder() + "/.config";
  return {config + "/chromium/NativeMessagingHosts",
          config + "/google-chrome/NativeMessagingHosts",
          platform::HomeFolder() + "/.mozilla/native-messaging-hosts",
          "/etc/chromium/native-messaging-hosts",
          "/etc/opt/chrome/native-messaging-hosts",
          "/usr/lib/mozilla/native-messaging-hosts",
          "/usr/lib64/mozilla/native-messaging-hosts"};
}

// The program a manifest names, when it is one.
std::string HostProgram(const std::string& manifest_path) {
  if (!IsReadableRegularFile(manifest_path)) return {};
  auto text = readWholeFile(manifest_path);
  if (!text) return {};
  nlohmann::json m = nlohmann::json::parse(*text, nullptr, /*allow_exceptions=*/false);
  if (!m.is_object() || m.value("name", "") != QUIL_SIGNER_HOST_NAME) return {};
  const std::string path = m.value("path", "");
  if (path.empty() || path[0] != '/' || !platform::HasProgram(path)) return {};
  return path;
}

}  // namespace

std::string InstalledSigningHost() {
  for (const auto& folder : ManifestFolders()) {
    std::string program = HostProgram(folder + "/" + QUIL_SIGNER_HOST_NAME + ".json");
    if (!program.empty()) return program;
  }
  return {};
}

void RegisterSigningComponent() {
  const std::string class_id = platform::ToWide(getSetting("component.activeX.classId32"));
  if (class_id.empty()) return;
  const std::string program = InstalledSigningHost();
  if (program.empty()) return;
  const std::string key = "Software\\Classes\\CLSID\\{" + class_id + "}\\LocalServer32";
  auto& hive = platform::CurrentUserHive();
  auto now = hive.QueryValue(key, "");
  if (now && now->type == platform::RegType::kSz && now->data == program) return;
  (void)hive.SetValues(key, {platform::RegSz("", program)});
}

}  // namespace quil
