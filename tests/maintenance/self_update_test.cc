// The start-up version check and self-update, on a program file in a
// folder of its own, against a proxy that answers checkVersion and serves
// the update.
#include "maintenance/self_update.h"

#include <gtest/gtest.h>
#include <link.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <netinet/in.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include "base/client_version.h"
#include "base/pause.h"
#include "base/result_codes.h"
#include "platform/process.h"
#include "platform/program_file.h"
#include "proxy/fake_proxy.h"
#include "proxy_replies.h"
#include "ui/scripted_ui.h"

namespace quil {
namespace {

using testing::ProxyTestEnv;
using testing::Raw;
using testing::ReadFileForTest;
using testing::ScopedEnv;
using testing::SysCfgReply;
using testing::WriteFileForTest;
using testing::Xml;

constexpr char kOutdated[] = "您目前使用的用戶端軟體版本過舊, 將為您自動進行軟體更新";
constexpr char kDownloadFailed[] = "檔案下載失敗, 請稍後再重新嘗試檔案更新";
constexpr char kRestarting[] = "接下來將為您更新及重新啟動用戶端軟體";
constexpr char kRetireFailed[] = "移除舊檔失敗, 請手動重新下載用戶端軟體";
constexpr char kPlaceFailed[] = "轉置新檔案失敗, 請手動重新下載用戶端軟體";
constexpr char kRestartFailed[] = "新版本軟體已完成更新但重新啟動失敗。";
constexpr char kUpdateFailed[] = "新版本軟體無法啟動, 已還原為原來的版本, 請稍後再重新嘗試軟體更新";
constexpr char kCheckFailed[] = "版本檢核失敗，請檢查您的網路連線狀態\n並在稍後再重新嘗試使用這個軟體";
constexpr char kOldProgram[] = "the program as it was before the update\n";
constexpr char kRefused[] = "<result><rtnCode>1</rtnCode><rtnMsg>too old</rtnMsg></result>";

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

const std::string kStub = std::string(QUIL_TEST_BINARY_DIR) + "/tests/quil_update_stub";
const std::string kQuil = std::string(QUIL_TEST_BINARY_DIR) + "/src/quil";

// A shared library this process has loaded: zlib's, else OpenSSL's.
std::string SharedLibrary() {
  std::string found;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* out) {
        std::string name = info->dlpi_name ? info->dlpi_name : "";
        auto* path = static_cast<std::string*>(out);
        if (name.find("/libz.so") != std::string::npos) *path = name;
        else if (path->empty() && name.find("/libcrypto.so") != std::string::npos) *path = name;
        return 0;
      },
      &found);
  return found;
}

// A program file in a folder of its own, a proxy, and the update it serves
// (a program of this machine that answers --version as quil does, and
// otherwise runs the shell: tests/support/linux/update_stub.cc).
struct UpdateBench {
  ProxyTestEnv env;
  std::string folder = env.home() + "/app";
  std::string program = folder + "/quil";
  std::string marker = folder + "/started";
  std::string update = ReadFileForTest(kStub);
  // The old program (when it is one) and the new one both leave their mark.
  UpdateTarget target{program, {"-c", "echo started${QUIL_UPDATE_FAILED:+ after a failed update} > " + marker}};

  UpdateBench() {
    WriteFileForTest(program, kOldProgram);
    ServeUpdate(Raw(200, update));
  }
  // The old program is a real one: a copy of `from`.
  void RunnableOldProgram(const std::string& from) {
    std::filesystem::copy_file(from, program, std::filesystem::copy_options::overwrite_existing);
    chmod(program.c_str(), 0755);
  }

  void ServeUpdate(testing::ScriptedReply reply, const std::string& url_path = "/download/QUILSetup.exe") {
    env.proxy().On("getSysCfg",
                   Xml(SysCfgReply({{"app.dlUrl", url_path.empty() ? "" : env.proxy().origin() + url_path}})));
    env.proxy().On(url_path.empty() ? "/download/QUILSetup.exe" : url_path, std::move(reply));
  }
  std::vector<std::string> Messages() { return env.ui().messages; }
  const std::vector<Milliseconds>& Pauses() { return env.pauses(); }
  void ExpectProgramUntouched() {
    EXPECT_EQ(ReadFileForTest(program), kOldProgram);
    EXPECT_FALSE(Exists(program + ".new")) << "no download is left behind";
  }
};

// Waits for the started program to leave its mark.
bool Started(const std::string& marker, const std::string& mark = "started\n") {
  for (int i = 0; i < 1000; ++i) {
    if (ReadFileForTest(marker) == mark) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(SelfUpdateTest, AnAcceptedVersionGoesOnAndCleansUpTheLastUpdate) {
  UpdateBench b;
  WriteFileForTest(b.program + ".dpc", "the program before the last update");
  b.env.proxy().On("checkVersion", Xml("<result><rtnCode>0</rtnCode><rtnMsg/></result>"));
  StartupCheck check = RunStartupVersionCheck(b.target);
  EXPECT_EQ(check.code, 0);
  EXPECT_FALSE(check.close);
  EXPECT_TRUE(b.Messages().empty());
  EXPECT_FALSE(Exists(b.program + ".dpc"));
  EXPECT_TRUE(b.Pauses().empty()) << "deleted at the first attempt";
  b.ExpectProgramUntouched();
  EXPECT_EQ(b.env.proxy().Count("/download/QUILSetup.exe"), 0);
  EXPECT_EQ(b.env.proxy().Requests("checkVersion").at(0).fields.at("version"), kClientVersion);
}

TEST(SelfUpdateTest, AnOutdatedClientSwapsItsFileAndStartsTheNewOne) {
  struct Case {
    const char* name;
    const char* reply;
  } cases[] = {
      {"rtnCode 1", kRefused},
      {"a reply without rtnCode, like 1", "<result><notice>x</notice></result>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateBench b;
    WriteFileForTest(b.program + ".new", "a download an earlier update left");
    b.env.proxy().On("checkVersion", Xml(c.reply));
    StartupCheck check = RunStartupVersionCheck(b.target);
    EXPECT_EQ(check.code, kVersionMismatch);
    EXPECT_TRUE(check.close);
    EXPECT_TRUE(check.successor_started);
    EXPECT_EQ(b.Messages(), (std::vector<std::string>{kOutdated, kRestarting}));
    ASSERT_FALSE(b.Pauses().empty());
    EXPECT_EQ(b.Pauses().front(), Milliseconds(1000)) << "a second after the first message";
    EXPECT_EQ(ReadFileForTest(b.program), b.update);
    struct stat st;
    ASSERT_EQ(stat(b.program.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_EQ(ReadFileForTest(b.program + ".dpc"), kOldProgram) << "the old program is retired beside it";
    EXPECT_FALSE(Exists(b.program + ".new"));
    EXPECT_TRUE(Started(b.marker)) << "the new program ran with the options given";
    EXPECT_FALSE(b.env.ui().progress.empty()) << "the download showed its progress";
  }
}

// Before the swap the download must start from its ".new" name and answer
// --version as quil does; anything else is a failed download, and the old
// program (here the real quil) still starts and answers.
TEST(SelfUpdateTest, ADownloadThatIsNotAWorkingProgramChangesNothing) {
  const std::string stub = ReadFileForTest(kStub);
  const std::string library = SharedLibrary();
  ASSERT_FALSE(library.empty());
  constexpr bool kRealQuil = true;  // the old program is quil itself, which must still start
  struct Case {
    const char* name;
    testing::ScriptedReply reply;
    bool real_quil = false;
    std::string version_line = "";  // what the stub answers; "" its default
    std::string url_path = "/download/QUILSetup.exe";
  } cases[] = {
      {"an error page served with status 200",
       Raw(200, "<!DOCTYPE html><html><body><h1>系統維護中</h1></body></html>")},
      {"a cut-off program", Raw(200, stub.substr(0, stub.size() / 2)), kRealQuil},
      {"a shared library", Raw(200, ReadFileForTest(library)), kRealQuil},
      {"a program that exits 1 at once", Raw(200, ReadFileForTest("/bin/false")), kRealQuil},
      {"a program that is not quil", Raw(200, ReadFileForTest("/bin/sh"))},
      {"a program that answers as another", Raw(200, stub), false, "quilt 2.0"},
      {"an empty body", Raw(200, "")},
      {"not found", Raw(404, "missing")},
      {"an empty app.dlUrl", Raw(200, stub), false, "", ""},
  };
  const auto quil_size = std::filesystem::file_size(kQuil);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateBench b;
    if (c.real_quil) b.RunnableOldProgram(kQuil);
    std::optional<ScopedEnv> answer;
    if (!c.version_line.empty()) answer.emplace("QUIL_STUB_VERSION_LINE", c.version_line);
    b.ServeUpdate(c.reply, c.url_path);
    b.env.proxy().On("checkVersion", Xml(kRefused));
    StartupCheck check = RunStartupVersionCheck(b.target);
    EXPECT_EQ(check.code, kVersionMismatch);
    EXPECT_TRUE(check.close);
    EXPECT_FALSE(check.successor_started);
    EXPECT_EQ(b.Messages(), (std::vector<std::string>{kOutdated, kDownloadFailed}));
    ASSERT_FALSE(b.Pauses().empty());
    EXPECT_EQ(b.Pauses().back(), Milliseconds(2000)) << "two seconds after the failure message";
    EXPECT_FALSE(Exists(b.program + ".dpc"));
    EXPECT_FALSE(Exists(b.marker));
    if (!c.real_quil) {
      b.ExpectProgramUntouched();
      continue;
    }
    EXPECT_FALSE(Exists(b.program + ".new")) << "no download is left behind";
    EXPECT_EQ(std::filesystem::file_size(b.program), quil_size);
    EXPECT_EQ(platform::ProgramVersionOutput(b.program, std::chrono::seconds(30)), ProgramVersionLine() + "\n")
        << "the old program still starts";
  }
}

// A port where nothing listens.
int ClosedPort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
  close(s);
  return ntohs(a.sin_port);
}

TEST(SelfUpdateTest, ACheckThatCannotBeMadeEndsTheProgram) {
  struct Case {
    const char* name;
    std::optional<testing::ScriptedReply> reply;  // nothing: no proxy answers
    int code;
  } cases[] = {
      {"no proxy answers", std::nullopt, kVersionCallFailed},
      {"an HTTP failure", Raw(503, ""), kVersionCallFailed},
      {"not XML", Xml("<result><rtnCode>0</rtnCode>"), kVersionReplyUnreadable},
      {"no root element", Xml("<?xml version=\"1.0\"?>"), kVersionNoRoot},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateBench b;
    std::optional<ScopedEnv> unreachable;
    if (c.reply) b.env.proxy().On("checkVersion", *c.reply);
    else unreachable.emplace("QUIL_PROXY_URL", "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/PELIProxy/proxy/");
    StartupCheck check = RunStartupVersionCheck(b.target);
    EXPECT_EQ(check.code, c.code);
    EXPECT_TRUE(check.close);
    ASSERT_FALSE(b.Messages().empty());
    EXPECT_EQ(b.Messages().back(), kCheckFailed);
    b.ExpectProgramUntouched();
  }
}

TEST(SelfUpdateTest, ARetiredFileThatCannotBeDeletedDoesNotStopTheStart) {
  UpdateBench b;
  // A folder full of files stands for a retired program still held open.
  WriteFileForTest(b.program + ".dpc/held", "x");
  b.env.proxy().On("checkVersion", Xml("<result><rtnCode>0</rtnCode></result>"));
  StartupCheck check = RunStartupVersionCheck(b.target);
  EXPECT_EQ(check.code, 0);
  EXPECT_FALSE(check.close);
  EXPECT_TRUE(b.Messages().empty());
  EXPECT_EQ(b.Pauses(), std::vector<Milliseconds>(20, Milliseconds(500))) << "20 attempts, 500 ms apart";
  EXPECT_TRUE(Exists(b.program + ".dpc/held"));
}

TEST(SelfUpdateTest, AProgramFileThatCannotBeMovedAsideStaysAndTheDownloadGoes) {
  UpdateBench b;
  WriteFileForTest(b.program + ".dpc/held", "x");
  b.env.proxy().On("checkVersion", Xml(kRefused));
  StartupCheck check = RunStartupVersionCheck(b.target);
  EXPECT_EQ(check.code, kVersionMismatch);
  EXPECT_TRUE(check.close);
  EXPECT_EQ(b.Messages(), (std::vector<std::string>{kOutdated, kRestarting, kRetireFailed}));
  EXPECT_FALSE(check.successor_started);
  EXPECT_EQ(ReadFileForTest(b.program), kOldProgram);
  EXPECT_FALSE(Exists(b.program + ".new")) << "the next update downloads it again";
  EXPECT_FALSE(Exists(b.marker));
}

// A Ui that does something to the folder while a message is on screen.
class MeddlingUi : public ui::ScriptedUi {
 public:
  MeddlingUi(std::string when, std::function<void()> meddle) : when_(std::move(when)), meddle_(std::move(meddle)) {}
  ui::Answer MessageBox(const std::string& text, ui::Buttons buttons) override {
    if (text == when_) meddle_();
    return ScriptedUi::MessageBox(text, buttons);
  }

 private:
  std::string when_;
  std::function<void()> meddle_;
};

// Something takes the new file away, or its permission to run, while the
// customer reads that the program restarts: each way out is said, and the
// folder is never left without a program.
TEST(SelfUpdateTest, APlacementOrRestartThatFailsIsSaid) {
  struct Case {
    const char* name;
    std::function<void(const std::string& new_file)> meddle;
    const char* said;
    bool placed;  // the new program in place, the old one kept as .dpc
  } const kCases[] = {
      {"the new file is gone: the old program stays",
       [](const std::string& f) { std::filesystem::remove(f); }, kPlaceFailed, false},
      {"placed, but the system will not start it",
       [](const std::string& f) { chmod(f.c_str(), 0644); }, kRestartFailed, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    UpdateBench b;
    b.env.proxy().On("checkVersion", Xml(kRefused));
    MeddlingUi meddling(kRestarting, [&] { c.meddle(b.program + ".new"); });
    ui::SetUi(&meddling);
    StartupCheck check = RunStartupVersionCheck(b.target);
    ui::SetUi(&b.env.ui());
    EXPECT_EQ(check.code, kVersionMismatch);
    EXPECT_TRUE(check.close);
    EXPECT_FALSE(check.successor_started);
    EXPECT_EQ(meddling.messages, (std::vector<std::string>{kOutdated, kRestarting, c.said}));
    EXPECT_EQ(ReadFileForTest(b.program), c.placed ? b.update : std::string(kOldProgram));
    if (c.placed) {
      EXPECT_EQ(ReadFileForTest(b.program + ".dpc"), kOldProgram);
    } else {
      EXPECT_FALSE(Exists(b.program + ".dpc"));
    }
    EXPECT_FALSE(Exists(b.marker));
  }
}

// Clears what ConfirmUpdate leaves in this process's environment.
struct ScopedUpdateFailedVariable {
  ~ScopedUpdateFailedVariable() { unsetenv(kUpdateFailedVariable); }
};

// After the swap the successor must come up; one that ends, or is not up
// in time, makes way for the old program, which starts again knowing.
TEST(SelfUpdateTest, ASuccessorThatDoesNotComeUpIsReplacedByTheOldProgram) {
  struct Case {
    const char* name;
    const char* fails;  // QUIL_UPDATE_STUB for the successor; "" comes up
    std::chrono::milliseconds limit;
    bool stands;
  } cases[] = {
      {"comes up", "", std::chrono::seconds(30), true},
      {"ends at once", "exit", std::chrono::seconds(30), false},
      {"never comes up", "hang", std::chrono::milliseconds(1500), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateBench b;
    b.RunnableOldProgram("/bin/sh");
    const std::string old_program = ReadFileForTest(b.program);
    ScopedUpdateFailedVariable cleared;
    std::optional<ScopedEnv> fails;
    if (*c.fails) fails.emplace("QUIL_UPDATE_STUB", c.fails);
    b.env.proxy().On("checkVersion", Xml(kRefused));
    StartupCheck check = RunStartupVersionCheck(b.target);
    ASSERT_TRUE(check.successor_started);
    ASSERT_GT(check.successor, 0);
    fails.reset();  // the old program, started again, must not fail

    const auto start = std::chrono::steady_clock::now();
    bool stands = ConfirmUpdate(b.target, check.successor, [&] { return Exists(b.marker); }, c.limit);
    EXPECT_EQ(stands, c.stands);
    EXPECT_LT(std::chrono::steady_clock::now() - start, c.limit + std::chrono::seconds(5));
    EXPECT_FALSE(platform::ProcessIsRunning(check.successor)) << "a successor that failed is ended";
    if (c.stands) {
      EXPECT_TRUE(Started(b.marker));
      EXPECT_EQ(ReadFileForTest(b.program), b.update);
      EXPECT_EQ(ReadFileForTest(b.program + ".dpc"), old_program) << "left for the new program to delete";
    } else {
      EXPECT_EQ(ReadFileForTest(b.program), old_program);
      EXPECT_FALSE(Exists(b.program + ".dpc"));
      // The old program runs again and knows why.
      EXPECT_TRUE(Started(b.marker, "started after a failed update\n"));
    }
  }
}

TEST(SelfUpdateTest, AfterAFailedUpdateTheCustomerIsToldAndTheProgramEnds) {
  UpdateBench b;
  WriteFileForTest(b.program + ".new", "the download that failed");
  b.target.after_failed_update = true;
  b.env.proxy().On("checkVersion", Xml(kRefused));
  StartupCheck check = RunStartupVersionCheck(b.target);
  EXPECT_EQ(check.code, kVersionMismatch);
  EXPECT_TRUE(check.close);
  EXPECT_FALSE(check.successor_started);
  EXPECT_EQ(b.Messages(), (std::vector<std::string>{kUpdateFailed}));
  EXPECT_EQ(b.env.proxy().Count("checkVersion"), 0) << "no second attempt now";
  EXPECT_EQ(ReadFileForTest(b.program), kOldProgram);
}

}  // namespace
}  // namespace quil
