#include "base/settings.h"

#include "platform/text_codec.h"

namespace quil {
namespace {

struct SettingsMap {
  FieldMap map;
  // Only a successful load counts: an entry written before it (a login
  // whose settings could not be fetched) must not stop the next load.
  bool loaded = false;
  SettingsLoader loader;
};

SettingsMap& Settings() {
  static SettingsMap settings;
  return settings;
}

void Load() {
  SettingsMap& s = Settings();
  if (!s.loader) return;
  std::optional<FieldMap> loaded = s.loader();
  if (!loaded) return;
  // Entries written before the load are newer than what it brings.
  for (auto& [key, value] : s.map) (*loaded)[key] = std::move(value);
  s.map = std::move(*loaded);
  s.loaded = true;
}

}  // namespace

void SetSettingsLoader(SettingsLoader loader) { Settings().loader = std::move(loader); }

std::string getSetting(const std::string& key) {
  if (!Settings().loaded) Load();
  return FieldOf(Settings().map, key);
}

void setSetting(const std::string& key, const std::string& value) { Settings().map[key] = value; }

std::string GetPathSetting(const std::string& key) { return platform::ToWide(getSetting(key)); }

void SetPathSetting(const std::string& key, const std::string& wide_path) {
  setSetting(key, platform::ToNarrow(wide_path));
}

void ResetSettingsForTesting() {
  Settings().map.clear();
  Settings().loaded = false;
}

}  // namespace quil
