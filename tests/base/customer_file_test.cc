// Files the customer names, read without ever waiting: only regular files
// of ordinary file systems, and none larger than any certificate file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <optional>

#include "base/files.h"
#include "support/test_env.h"

namespace quil::testing {
namespace {

TEST(CustomerFileTest, OnlyRegularFilesOfOrdinaryFileSystemsUpToTheLimit) {
  ScopedTestHome home;
  const std::string fifo = home.path() + "/pipe.p12";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string huge = home.path() + "/huge.p12";
  const std::string at_limit = home.path() + "/at-limit.p12";
  const std::string over_limit = home.path() + "/over-limit.p12";
  const std::pair<std::string, off_t> sized[] = {
      {huge, off_t{8} << 30}, {at_limit, off_t{kCustomerFileLimit}}, {over_limit, off_t{kCustomerFileLimit + 1}}};
  for (const auto& [path, size] : sized) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
  }
  WriteFileForTest(home.path() + "/small.p12", "bytes");
  std::string sys_file;
  for (const char* candidate : {"/sys/kernel/mm/transparent_hugepage/enabled", "/sys/power/state"})
    if (access(candidate, R_OK) == 0) sys_file = candidate;

  struct Case {
    const char* name;
    std::string path;
    std::optional<size_t> size;  // nothing: refused
  } cases[] = {
      {"a small file", home.path() + "/small.p12", 5},
      {"a file at the limit", at_limit, kCustomerFileLimit},
      {"a file over the limit", over_limit, std::nullopt},
      {"a huge file", huge, std::nullopt},
      {"a named pipe without a writer", fifo, std::nullopt},
      {"an endless device", "/dev/zero", std::nullopt},
      {"a device", "/dev/null", std::nullopt},
      {"a folder", home.path(), std::nullopt},
      {"a kernel file that reads like text", "/proc/self/status", std::nullopt},
      {"a sysfs file", sys_file, std::nullopt},
      {"a missing file", home.path() + "/missing.p12", std::nullopt},
      {"an empty path", "", std::nullopt},
  };
  for (const auto& c : cases) {
    if (c.path.empty() && std::string(c.name) == "a sysfs file") continue;
    SCOPED_TRACE(c.name);
    auto read = std::async(std::launch::async, [&] { return ReadCustomerFile(c.path); });
    ASSERT_EQ(read.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "still reading " << c.path;
    auto bytes = read.get();
    ASSERT_EQ(bytes.has_value(), c.size.has_value());
    if (bytes) {
      EXPECT_EQ(bytes->size(), *c.size);
    }
  }
}

}  // namespace
}  // namespace quil::testing
