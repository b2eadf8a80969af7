#pragma once
// Where the settings map (base/settings.h) gets the operator's settings:
// getSysCfg under the public-key envelope, completed locally.
#include <string>

#include "base/field_map.h"

namespace quil::proxy {

// Makes the first lookup of the settings map fetch them from the proxy.
// Called once at start, before any setting is read.
void InstallSettingsLoader();

}  // namespace quil::proxy

namespace quil {

// Completes the proxy's settings with the values worked out on this
// machine (user folders, default PKCS#12 path, store order). The proxy's
// path settings (default.pfxFilePath, default.pfxFileName) are written for
// Windows: their backslashes become "/" first. `home` and
// `desktop` are the profile and desktop folders (narrow, "/"-separated).
// Exposed for tests.
FieldMap CompleteSettings(FieldMap proxy_fields, const std::string& home, const std::string& desktop);

}  // namespace quil
