// A child process held through its standard input (the demo proxy's way):
// letting it go never waits for ever, whatever the program does with
// SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <future>

#include "platform/process.h"

namespace quil::platform {
namespace {

using Clock = std::chrono::steady_clock;

TEST(ChildProcessTest, LettingGoEndsItsInputFirstAndWaitsWithALimit) {
  struct Case {
    const char* name;
    const char* script;                // ignores SIGTERM in both
    std::chrono::milliseconds within;  // the hold lets go within this
  } kCases[] = {
      {"ends when its input ends", "trap '' TERM; echo ready; exec cat >/dev/null", std::chrono::milliseconds(1000)},
      {"ends only when killed", "trap '' TERM; echo ready; exec sleep 60", std::chrono::milliseconds(4000)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    auto child = StartChildProcess("sh", {"-c", c.script});
    ASSERT_TRUE(child);
    ASSERT_EQ(child->ReadLine(std::chrono::seconds(10)), "ready");
    const int pid = child->Id();
    const auto start = Clock::now();
    auto let_go = std::async(std::launch::async, [&] { child.reset(); });
    if (let_go.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      kill(pid, SIGKILL);  // unblocks the hold so the test can end
      let_go.wait();
      FAIL() << "the hold waited for ever";
    }
    EXPECT_LT(Clock::now() - start, c.within);
    EXPECT_NE(kill(pid, 0), 0) << "ended and collected";
  }
}

}  // namespace
}  // namespace quil::platform
