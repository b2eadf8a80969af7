#pragma once
// The client version, "1.9": sent with several proxy actions, shown by the
// page and part of the agent string. Its one definition is the project's
// version in CMakeLists.txt.
#include <string>
#include <string_view>

#include "build_config.h"

namespace quil {

inline constexpr char kClientVersion[] = QUIL_SOURCE_VERSION;

// The first line `quil --version` prints: "quil " and the client version.
inline std::string ProgramVersionLine() { return std::string("quil ") + kClientVersion; }

// Whether `line` is that line for some version ("quil " and a version of
// digits and dots): what any QUIL program, also a later one, answers.
inline bool IsProgramVersionLine(std::string_view line) {
  constexpr std::string_view kName = "quil ";
  if (line.substr(0, kName.size()) != kName) return false;
  std::string_view version = line.substr(kName.size());
  if (version.empty() || version.front() == '.' || version.back() == '.') return false;
  for (char c : version)
    if (!(c == '.' || (c >= '0' && c <= '9'))) return false;
  return true;
}

}  // namespace quil
