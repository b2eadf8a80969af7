#include "platform/linux/run_program.h"

#include <gtest/gtest.h>

namespace quil::platform {
namespace {

using std::chrono::milliseconds;

TEST(RunProgramTest, CollectsOutputAndStatusAndStopsWhatHangs) {
  struct Case {
    const char* name;
    std::string program;
    std::vector<std::string> args;
    bool ran;
    int status;
    std::string out;
    int limit_ms = 30000;
  } kCases[] = {
      {"output and success", "sh", {"-c", "printf 'enabled\\n'"}, true, 0, "enabled\n"},
      {"a failure's status", "sh", {"-c", "echo disabled; exit 3"}, true, 3, "disabled\n"},
      {"standard error is not output", "sh", {"-c", "echo oops >&2"}, true, 0, ""},
      {"more output than a pipe holds", "sh", {"-c", "head -c 200000 /dev/zero | tr '\\0' x"}, true, 0,
       std::string(200000, 'x')},
      {"a signal ends it", "sh", {"-c", "kill -TERM $$"}, true, -1, ""},
      {"missing program", "quil-no-such-program", {}, false, 0, ""},
      {"hangs past the limit", "sleep", {"30"}, false, 0, "", 300},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    auto got = RunProgram(c.program, c.args, milliseconds(c.limit_ms));
    ASSERT_EQ(got.has_value(), c.ran);
    if (!got) continue;
    EXPECT_EQ(got->exit_status, c.status);
    EXPECT_EQ(got->out, c.out);
  }
}

}  // namespace
}  // namespace quil::platform
