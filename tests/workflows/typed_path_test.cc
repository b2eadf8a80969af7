// The PKCS#12 path a customer types, read by the methods that take one: a
// pipe, a device, a kernel file or a huge file is no certificate file, and
// none of them may hold the one application thread, which every other call
// of the page waits for.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>

#include "app/host/app_thread.h"
#include "base/settings.h"
#include "demo_bench.h"
#include "lifecycle_test_util.h"

namespace quil::testing {
namespace {

constexpr auto kAtOnce = std::chrono::seconds(20);  // a hang guard on a busy machine

// One bridge call of the page with the typed path in its place.
struct Method {
  const char* name;
  std::function<std::string(DemoSession&, const std::string& path)> call;
};

TEST(TypedPathTest, NoFileAPathCanNameHoldsTheApplicationThread) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  const std::string held = s.home.path() + "/certs/held.P12";
  HoldCertificateInFile(s, held, "abc123");
  NearItsEnd(s);  // renewal reads the file too

  const std::string fifo = s.home.path() + "/pipe.P12";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string huge = s.home.path() + "/huge.P12";
  {
    int fd = open(huge.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, off_t{8} << 30), 0);  // sparse: 8 GiB of nothing
    close(fd);
  }
  std::string sys_file;
  for (const char* candidate :
       {"/sys/kernel/mm/transparent_hugepage/enabled", "/sys/power/state", "/sys/kernel/profiling"})
    if (access(candidate, R_OK) == 0) sys_file = candidate;

  const Method methods[] = {
      {"qryPfxCertInfo",
       [](DemoSession& s, const std::string& path) {
         return s.Call("qryPfxCertInfo", {s.customer.idno, path, "abc123"});
       }},
      {"changePfxPwd2",
       [](DemoSession& s, const std::string& path) {
         return s.Call("changePfxPwd2", {s.customer.idno, path, "abc123", "xyz789"});
       }},
      {"replaceCert2",
       [](DemoSession& s, const std::string& path) {
         return s.Call("replaceCert2", {s.customer.idno, path, "abc123"});
       }},
      {"deployCert",
       [](DemoSession& s, const std::string& path) {
         // The file deployed is the one the page last read (qryPfxCertInfo).
         setSetting("env.userPfxFilePath", path);
         return s.Call("deployCert", {s.customer.idno, s.customer.aid, path, "abc123"});
       }},
  };
  struct Path {
    const char* name;
    std::string path;
  } paths[] = {
      {"named pipe without a writer", fifo},
      {"endless device", "/dev/zero"},
      {"huge file", huge},
      {"kernel file that reads like text", "/proc/self/status"},
      {"sysfs file", sys_file},
  };

  host::AppThread app;
  for (const auto& m : methods) {
    SCOPED_TRACE(m.name);
    // What the method answers for a file that is not there.
    const std::string missing = m.call(s, s.home.path() + "/missing.P12");
    ASSERT_NE(missing.find("'errCode':'"), std::string::npos) << missing;
    ASSERT_EQ(missing.find("'errCode':'0'"), std::string::npos) << missing;
    for (const auto& p : paths) {
      if (p.path.empty()) continue;
      SCOPED_TRACE(p.name);
      s.ClearUi();
      auto answer = std::make_shared<std::promise<std::string>>();
      auto next = std::make_shared<std::promise<std::string>>();
      ASSERT_TRUE(app.Post([&, answer] { answer->set_value(m.call(s, p.path)); }));
      ASSERT_TRUE(app.Post([&, next] { next->set_value(s.Call("getClientVersion", {})); }));
      auto got = answer->get_future();
      auto served = next->get_future();
      if (got.wait_for(kAtOnce) != std::future_status::ready) {
        // Free the thread for the rest of the program: a writer for the pipe.
        int w = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (w >= 0) close(w);
        FAIL() << "the method is still reading " << p.path;
      }
      EXPECT_EQ(got.get(), missing) << "the file error, as for a missing file";
      ASSERT_EQ(served.wait_for(kAtOnce), std::future_status::ready) << "the next call was held";
      EXPECT_NE(served.get().find("1.9"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace quil::testing
