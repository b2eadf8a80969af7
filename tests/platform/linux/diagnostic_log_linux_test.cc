// The diagnostic log: the journal's native protocol on a socket of the
// test's own, the standard error fallback, levels and the line's quoting.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "platform/diagnostic_log.h"
#include "support/test_env.h"

namespace quil::platform {
namespace {

// A datagram socket standing in for the journal.
class FakeJournal {
 public:
  explicit FakeJournal(const std::string& path) : path_(path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
    timeval wait{2, 0};  // hang guard
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  }
  ~FakeJournal() { close(fd_); }
  // The next datagram, "" when none came within the wait.
  std::string Receive() {
    char buffer[4096];
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
  }
  // Whether a datagram is waiting.
  bool HasMore() {
    char byte;
    return recv(fd_, &byte, 1, MSG_DONTWAIT | MSG_PEEK) > 0;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

struct LogEnv {
  LogEnv() { SetLogLevel(LogLevel::kError); }
  ~LogEnv() {
    SetJournalSocketForTesting("/run/systemd/journal/socket");
    SetLogLevel(LogLevel::kError);
  }
  testing::ScopedTestHome home;
};

TEST(DiagnosticLog, JournalGetsTheRecordsFieldsAtItsPriority) {
  LogEnv env;
  FakeJournal journal(env.home.path() + "/journal");
  SetJournalSocketForTesting(env.home.path() + "/journal");
  WriteLog({LogLevel::kError, "cert", "loadPfxSilent", "kPfxFileWrongPassword", "two\nlines"});
  const std::string datagram = journal.Receive();
  for (const char* field :
       {"\nPRIORITY=3\n", "\nSYSLOG_IDENTIFIER=quil\n", "\nQUIL_LAYER=cert\n", "\nQUIL_OPERATION=loadPfxSilent\n",
        "\nQUIL_RESULT=kPfxFileWrongPassword\n", "\nQUIL_REASON=two lines\n"})
    EXPECT_NE(datagram.find(field), std::string::npos) << field << " in " << datagram;
  EXPECT_EQ(datagram.rfind("MESSAGE=level=error layer=cert operation=loadPfxSilent ", 0), 0u) << datagram;

  // Below the level in force: nothing is sent.
  WriteLog({LogLevel::kDebug, "cert", "quiet", "kOk", ""});
  EXPECT_FALSE(journal.HasMore());
  SetLogLevel(LogLevel::kDebug);
  WriteLog({LogLevel::kDebug, "cert", "loud", "kOk", ""});
  EXPECT_NE(journal.Receive().find("\nPRIORITY=7\n"), std::string::npos);
  SetLogLevel(LogLevel::kOff);
  WriteLog({LogLevel::kError, "cert", "off", "kFailed", ""});
  EXPECT_FALSE(journal.HasMore());
}

TEST(DiagnosticLog, WithoutAJournalTheLineGoesToStandardError) {
  LogEnv env;
  SetJournalSocketForTesting(env.home.path() + "/none");
  ::testing::internal::CaptureStderr();
  WriteLog({LogLevel::kError, "platform", "sqlite open /x", "sqlite 14", "unable to open database file"});
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Z level=error layer=platform operation=\"sqlite open /x\" result=\"sqlite 14\" "
                     "reason=\"unable to open database file\"\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(err.rfind("quil: 20", 0), 0u) << err;
}

TEST(DiagnosticLog, LevelsAndQuoting) {
  for (const char* name : {"off", "error", "warning", "info", "debug"}) {
    auto level = ParseLogLevel(name);
    ASSERT_TRUE(level) << name;
    EXPECT_STREQ(LogLevelName(*level), name);
  }
  for (const char* bad : {"", "ERROR", "verbose", "3"}) EXPECT_FALSE(ParseLogLevel(bad)) << bad;

  const struct {
    const char* reason;
    const char* shown;
  } kCases[] = {
      {"plain", "reason=plain"},
      {"", "reason=\"\""},
      {"has space", "reason=\"has space\""},
      {"a=b", "reason=\"a=b\""},
      {"say \"no\" \\ here", "reason=\"say \\\"no\\\" \\\\ here\""},
      {"line\nbreak\ttab", "reason=\"line break tab\""},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(FormatLogLine({LogLevel::kWarning, "l", "o", "r", c.reason}, "T"),
              std::string("T level=warning layer=l operation=o result=r ") + c.shown);
}

}  // namespace
}  // namespace quil::platform
