#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/process.h"
#include "support/test_env.h"

namespace quil::platform {
namespace {

constexpr uid_t kNobody = 65534;

bool WantsNoSandbox(const AppModeBrowser& b) {
  return std::find(b.extra_args.begin(), b.extra_args.end(), "--no-sandbox") != b.extra_args.end();
}

// FindAppModeBrowsers as `user` in a child: 1 with --no-sandbox for
// chromium, 0 without, -1 when no chromium was found.
int ChromiumNeedsNoSandboxAs(uid_t user) {
  int fds[2];
  if (pipe(fds) != 0) return -2;
  pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    char answer = 'n';
    if (setgid(user) == 0 && setuid(user) == 0) {
      setenv("PATH", "/usr/bin:/bin", 1);
      for (const AppModeBrowser& b : FindAppModeBrowsers())
        if (b.program == "chromium") answer = WantsNoSandbox(b) ? '1' : '0';
    }
    if (write(fds[1], &answer, 1) != 1) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  char answer = 'x';
  if (read(fds[0], &answer, 1) != 1) answer = 'x';
  close(fds[0]);
  waitpid(child, nullptr, 0);
  return answer == '1' ? 1 : answer == '0' ? 0 : -1;
}

TEST(AppModeBrowsers, StartWithoutTheSandboxOnlyWhereItCannotWork) {
  if (access("/usr/bin/chromium", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/chromium";
  if (geteuid() != 0) GTEST_SKIP() << "needs root to try both users";
  // Chromium refuses to start its sandbox as root.
  EXPECT_EQ(ChromiumNeedsNoSandboxAs(0), 1);
  // Another user needs the flag only where that user cannot make the
  // sandbox's namespaces, as the system's own unshare finds.
  std::string out;
  int status = testing::RunCommand(
      "setpriv --reuid=65534 --regid=65534 --clear-groups unshare --user --pid --net --fork true", &out);
  if (status == -1 || out.find("setpriv: ") != std::string::npos) GTEST_SKIP() << "setpriv: " << out;
  EXPECT_EQ(ChromiumNeedsNoSandboxAs(kNobody), status == 0 ? 0 : 1) << out;
}

}  // namespace
}  // namespace quil::platform
