#pragma once
// FieldMap: the ordered map of narrow field names to narrow values that is
// the shape of every proxy request, most proxy results, the settings and the
// certificate record. Iteration is in ascending byte order of the names
// ("Zeta" before "alpha").
#include <map>
#include <string>

namespace quil {

using FieldMap = std::map<std::string, std::string>;

// The value of `name`, or the empty text when absent.
inline const std::string& FieldOf(const FieldMap& map, const std::string& name) {
  static const std::string kEmpty;
  auto it = map.find(name);
  return it == map.end() ? kEmpty : it->second;
}

}  // namespace quil
