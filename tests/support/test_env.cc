#include "support/test_env.h"

#include <cstdio>
#include <cstdlib>
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

std::string TestKeySet() {
  std::string folder = QUIL_TEST_KEYS;
#ifdef _WIN32
  // The build folder is a Linux path; Wine shows the Linux root as Z:.
  if (WineVersion() && !folder.empty() && folder[0] == '/') folder = "Z:" + folder;
#endif
  return folder;
}

std::string TestKeyPem(const std::string& name) {
  std::string pem = ReadFileForTest(TestKeySet() + "/" + name + ".key");
  if (pem.empty()) {
    fprintf(stderr, "the test key %s.key is missing in %s (made by the build)\n", name.c_str(), TestKeySet().c_str());
    abort();
  }
  return pem;
}

}  // namespace quil::testing
