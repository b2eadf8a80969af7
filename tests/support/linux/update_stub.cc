// Stands in for a quil program served as an update: answers --version as
// quil does (QUIL_STUB_VERSION_LINE changes the line), and otherwise runs
// /bin/sh with its arguments, unless QUIL_UPDATE_STUB says how it fails
// once it is the program: "exit" ends at once with status 1, "hang" waits
// without ever serving anything.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    const char* line = std::getenv("QUIL_STUB_VERSION_LINE");
    std::printf("%s\n", line ? line : "quil 2.0");
    return 0;
  }
  const char* fails = std::getenv("QUIL_UPDATE_STUB");
  if (fails && std::strcmp(fails, "exit") == 0) return 1;
  if (fails && std::strcmp(fails, "hang") == 0) {
    for (;;) pause();
  }
  argv[0] = const_cast<char*>("sh");
  execv("/bin/sh", argv);
  return 127;
}
