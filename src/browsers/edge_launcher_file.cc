#include "browsers/edge_launcher_file.h"

#include "platform/environment.h"
#include "base/files.h"

namespace quil {

std::string placeEdgeLauncher() {
  std::string_view program = EdgeLauncherProgram();
  if (program.empty()) return {};
  const std::string path = platform::TempFolder() + "/" + kEdgeLauncherName;
  return WriteFileAtomically(path, program, 0700) == 0 ? path : std::string();
}

}  // namespace quil
