#pragma once
// The Edge launcher (browsers/edge-launcher/) that this program carries,
// and its place in the temporary folder.
#include <string>
#include <string_view>

namespace quil {

inline constexpr char kEdgeLauncherName[] = "EDGELAUNCHER.exe";

// The launcher's bytes (built and compiled in by CMake).
std::string_view EdgeLauncherProgram();

// Writes the launcher to the temporary folder as EDGELAUNCHER.exe (mode
// 0700), replacing an older copy whole; it stays there afterwards. Its path
// (wide), or "" when it cannot be written (the folder is missing, say).
std::string placeEdgeLauncher();

}  // namespace quil
