#pragma once
// The process-wide settings map. Keys and values are narrow text.
// Application thread only.
#include <functional>
#include <optional>
#include <string>

#include "base/field_map.h"

namespace quil {

// Fetches the operator's settings, completed with the values worked out on
// this machine; nullopt when they could not be had. The proxy layer
// installs one at start (proxy/settings_loader.h); without one the map
// holds only what setSetting wrote.
using SettingsLoader = std::function<std::optional<FieldMap>()>;
void SetSettingsLoader(SettingsLoader loader);

// The value of `key`, or "" when unknown. The first lookup of the process
// (and every lookup until a load has succeeded) runs the loader. A lookup
// never creates an entry.
std::string getSetting(const std::string& key);

// Creates or replaces one entry; does not load, and does not count as a
// load: an entry written before the first successful load keeps its value
// over the loaded one.
void setSetting(const std::string& key, const std::string& value);

// Settings that hold file paths keep them narrow like every setting; these
// convert at the edge so callers deal in wide (UTF-8) paths.
std::string GetPathSetting(const std::string& key);
void SetPathSetting(const std::string& key, const std::string& wide_path);

// Forgets every setting and that they were loaded; the loader stays (tests).
void ResetSettingsForTesting();

}  // namespace quil
