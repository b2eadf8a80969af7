#pragma once
// The process-wide settings map. Keys and values are narrow text.
// Application thread only.
#include <string>

#include "base/field_map.h"

namespace quil {

// The value of `key`, or "" when unknown. The first lookup of the process
// (and every lookup until a load has succeeded) loads the settings from
// the proxy with getSysCfg and completes them locally. A lookup never
// creates an entry.
std::string getSetting(const std::string& key);

// Creates or replaces one entry; does not load, and does not count as a
// load: an entry written before the first successful load keeps its value
// over the loaded one.
void setSetting(const std::string& key, const std::string& value);

// Settings that hold file paths keep them narrow like every setting; these
// convert at the edge so callers deal in wide (UTF-8) paths.
std::string GetPathSetting(const std::string& key);
void SetPathSetting(const std::string& key, const std::string& wide_path);

// Forgets every setting (tests).
void ResetSettingsForTesting();

// Completes the proxy's settings with the values worked out on this
// machine (user folders, default PKCS#12 path, store order). The proxy's
// path settings (default.pfxFilePath, default.pfxFileName) are written for
// Windows: their backslashes become "/" first. `home` and
// `desktop` are the profile and desktop folders (narrow, "/"-separated).
// Exposed for tests.
FieldMap CompleteSettings(FieldMap proxy_fields, const std::string& home, const std::string& desktop);

}  // namespace quil
