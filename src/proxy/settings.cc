#include "proxy/settings.h"

#include "proxy/field_map.h"

namespace quil {
namespace {

FieldMap& Settings() {
  static FieldMap map;
  return map;
}

}  // namespace

std::string getSetting(const std::string& key) { return FieldOf(Settings(), key); }

void setSetting(const std::string& key, const std::string& value) { Settings()[key] = value; }

void ResetSettingsForTesting() { Settings().clear(); }

}  // namespace quil
