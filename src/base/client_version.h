#pragma once
// The client version, "1.9": sent with several proxy actions, shown by the
// page and part of the agent string. Its one definition is the project's
// version in CMakeLists.txt.
#include "build_config.h"

namespace quil {

inline constexpr char kClientVersion[] = QUIL_SOURCE_VERSION;

}  // namespace quil
