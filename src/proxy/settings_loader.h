#pragma once
// Where the settings map (base/settings.h) gets the operator's settings:
// getSysCfg under the public-key envelope, completed locally.
#include <functional>
#include <string>

#include "base/field_map.h"

namespace quil::proxy {

// Makes the first lookup of the settings map fetch them from the proxy.
// Called once at start, before any setting is read. `on_loaded`, when
// given, sees the settings each time they have loaded (the program
// remembers what other programs of its own need from them).
void InstallSettingsLoader(std::function<void(const FieldMap&)> on_loaded = {});

}  // namespace quil::proxy

namespace quil {

// Completes the proxy's settings with the values worked out on this
// machine (user folders, default PKCS#12 path, store order). Paths are
// written with `separator`, the platform's own ("\\" on Windows, "/" on
// Linux): the proxy's path settings (default.pfxFilePath,
// default.pfxFileName), written for Windows, get it for each "\\" and "/"
// first. `home` and `desktop` are the profile and desktop folders (narrow,
// written with `separator`). Exposed for tests.
FieldMap CompleteSettings(FieldMap proxy_fields, const std::string& home, const std::string& desktop,
                          char separator);

}  // namespace quil
