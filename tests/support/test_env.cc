#include "support/test_env.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace quil::testing {

void WriteFileForTest(const std::string& path, const std::string& bytes) {
  auto native = std::filesystem::u8path(path);
  std::filesystem::create_directories(native.parent_path());
  std::ofstream out(native, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string ReadFileForTest(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace quil::testing
