#pragma once
// The process-wide settings map. Keys and values are narrow text.
// Application thread only.
#include <string>

namespace quil {

// The value of `key`, or "" when unknown.
std::string getSetting(const std::string& key);
void setSetting(const std::string& key, const std::string& value);

// Forgets every setting (tests).
void ResetSettingsForTesting();

}  // namespace quil
