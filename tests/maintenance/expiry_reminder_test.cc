// The expiry reminder against a private session bus and a notification
// service of the test's own.
#include "maintenance/expiry_reminder.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "notification_service_fake.h"
#include "support/linux/session_bus.h"
#include "support/test_env.h"

extern char** environ;

namespace quil::testing {
namespace {

constexpr std::time_t kDay = 24 * 60 * 60;
constexpr std::time_t kHour = 60 * 60;
constexpr char kAppId[] = "tw.com.example.quil";
// Far in the future, so that a slow machine never crosses a stage.
const std::time_t kEnd = std::time(nullptr) + 400 * kDay;

std::string LocalDigits(std::time_t t) {
  struct tm local {};
  localtime_r(&t, &local);
  char out[32];
  std::strftime(out, sizeof out, "%Y%m%d%H%M%S", &local);
  return out;
}

CertInfo Record(const std::string& cn, const std::string& serial, std::time_t not_after) {
  CertInfo r;
  r["cn"] = cn;
  r["serial"] = serial;
  r["issuer"] = "CN=QUIL Demo Issuing CA, O=QUIL Demo, C=TW";
  r["notAfter"] = LocalDigits(not_after);
  return r;
}

ExpiryCheck CheckAt(std::time_t now, std::vector<std::string> open = {}) {
  ExpiryCheck check;
  check.app_id = kAppId;
  check.open_command = std::move(open);
  check.wait = std::chrono::seconds(60);
  check.now = now;
  return check;
}

std::vector<std::string> Summaries(const FakeNotificationService& service) {
  std::vector<std::string> out;
  for (const auto& n : service.received()) out.push_back(n.summary);
  return out;
}

// A bus with the fake service on it, and this process pointed at it.
struct Desktop {
  explicit Desktop(FakeNotificationService::Reply reply = FakeNotificationService::Reply::kCloseAtOnce)
      : address(bus.address()), service(bus.address(), reply) {}
  PrivateSessionBus bus;
  ScopedSessionBusAddress address;
  FakeNotificationService service;
};

TEST(ExpiryStage, DaysLeftPickTheNearestStageNotPassed) {
  struct Case {
    const char* name;
    std::time_t left;
    const char* stage;
    int days;
  } kCases[] = {
      {"29 days", 29 * kDay, "", 29},
      {"a second more than 28 days", 28 * kDay + 1, "", 29},
      {"28 days", 28 * kDay, "28d", 28},
      {"15 days", 15 * kDay, "28d", 15},
      {"14 days", 14 * kDay, "14d", 14},
      {"8 days", 8 * kDay, "14d", 8},
      {"7 days", 7 * kDay, "7d", 7},
      {"3 days", 3 * kDay, "3d", 3},
      {"2 days and a second", 2 * kDay + 1, "3d", 3},
      {"1 day", kDay, "1d", 1},
      {"one second", 1, "1d", 1},
      {"the very end", 0, "expired", 0},
      {"a year after", -365 * kDay, "expired", 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    int days = -1;
    EXPECT_EQ(DueReminderStage(kEnd, kEnd - c.left, &days), c.stage);
    EXPECT_EQ(days, c.days);
  }
}

TEST(ExpiryStage, RecordTimesAreFourteenLocalDigits) {
  EXPECT_EQ(RecordTimeToTime(LocalDigits(kEnd)), kEnd);
  for (const char* bad : {"", "2026123123595", "202612312359590", "20261331000000", "2026123124000x", "abcdefghijklmn"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(RecordTimeToTime(bad), -1);
  }
}

TEST(ExpiryReminder, EachStageIsAnnouncedOnceAsTheDaysPass) {
  // Checks at these times before the end; what each one shows.
  struct Step {
    std::time_t before_end;
    const char* summary;  // empty: nothing shown
  };
  struct Sequence {
    const char* name;
    std::vector<Step> steps;
  } kSequences[] = {
      {"checked every few days",
       {{30 * kDay, ""},
        {27 * kDay, "QUIL：憑證將於 27 天內到期"},
        {26 * kDay, ""},
        {13 * kDay, "QUIL：憑證將於 13 天內到期"},
        {10 * kDay, ""},
        {6 * kDay, "QUIL：憑證將於 6 天內到期"},
        {2 * kDay, "QUIL：憑證將於 2 天內到期"},
        {12 * kHour, "QUIL：憑證將於 1 天內到期"},
        {kHour, ""},
        {-kDay, "QUIL：憑證已到期"},
        {-30 * kDay, ""}}},
      {"first checked five days before: the earlier stages are not made up",
       {{5 * kDay, "QUIL：憑證將於 5 天內到期"}, {4 * kDay, ""}, {3 * kDay, "QUIL：憑證將於 3 天內到期"}}},
      {"first checked long after the end", {{-300 * kDay, "QUIL：憑證已到期"}, {-299 * kDay, ""}}},
  };
  for (const auto& seq : kSequences) {
    SCOPED_TRACE(seq.name);
    ScopedTestHome home;
    Desktop desktop;
    ASSERT_TRUE(desktop.service.running());
    RememberHeldCertificate(Record("A123456789-01", "1A2B", kEnd), InPfxFile(home.path() + "/my.P12"));
    std::vector<std::string> expected;
    for (const auto& step : seq.steps) {
      SCOPED_TRACE(step.before_end / kHour);
      ExpiryCheckResult r = RunExpiryCheck(CheckAt(kEnd - step.before_end));
      EXPECT_EQ(r.status, 0) << r.problem;
      if (*step.summary) expected.push_back(step.summary);
      EXPECT_EQ(Summaries(desktop.service), expected);
    }
  }
}

TEST(ExpiryReminder, NotificationSaysWhoseCertificateEndsWhenAndWhere) {
  ScopedTestHome home;
  Desktop desktop;
  const std::string path = home.path() + "/憑證/my.P12";
  RememberHeldCertificate(Record("A123456789-01", "1A2B", kEnd), InPfxFile(path));
  RememberHeldCertificate(Record("B223456789-02", "3C4D", kEnd - 20 * kDay), InMyStore());
  ASSERT_EQ(RunExpiryCheck(CheckAt(kEnd - 3 * kDay)).shown, 2);

  const std::string end = LocalDigits(kEnd);
  const std::string shown_end = end.substr(0, 4) + "/" + end.substr(4, 2) + "/" + end.substr(6, 2) + " " +
                                end.substr(8, 2) + ":" + end.substr(10, 2) + ":" + end.substr(12, 2);
  auto got = desktop.service.received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].app_name, "QUIL");
  EXPECT_EQ(got[0].icon, kAppId);
  EXPECT_EQ(got[0].desktop_entry, kAppId);
  EXPECT_EQ(got[0].summary, "QUIL：憑證將於 3 天內到期");
  EXPECT_EQ(got[0].body, "A123456789-01 的憑證將於 " + shown_end + " 到期。請開啟 QUIL 辦理憑證展期。\n憑證檔：" + path);
  EXPECT_EQ(got[0].actions, (std::vector<std::string>{"default", "開啟 QUIL", "open", "開啟 QUIL"}));
  EXPECT_EQ(got[0].urgency, 1);
  EXPECT_EQ(got[1].summary, "QUIL：憑證已到期");
  EXPECT_NE(got[1].body.find("B223456789-02 的憑證已於 "), std::string::npos) << got[1].body;
  EXPECT_NE(got[1].body.find("憑證位置：個人憑證存放區"), std::string::npos) << got[1].body;
  EXPECT_EQ(got[1].urgency, 2) << "an ended certificate stays on screen";
}

// GLib's complaints (a string that is not UTF-8 handed to D-Bus), counted.
struct GLibCriticals {
  GLibCriticals() {
    for (const char* domain : {"GLib", "GLib-GIO"})
      ids.emplace_back(domain, g_log_set_handler(domain, static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL |
                                                                                       G_LOG_LEVEL_WARNING),
                                                 [](const gchar*, GLogLevelFlags, const gchar*, gpointer n) {
                                                   ++*static_cast<int*>(n);
                                                 },
                                                 &count));
  }
  ~GLibCriticals() {
    for (const auto& [domain, id] : ids) g_log_remove_handler(domain, id);
  }
  int count = 0;
  std::vector<std::pair<const char*, guint>> ids;
};

// A certificate's name and a file path are text, whatever they hold: a
// service that reads markup gets them escaped, and bytes that are not
// UTF-8 arrive as replacement characters.
TEST(ExpiryReminder, NamesAndPathsAreShownAsTheyAre) {
  const std::string cn = "<b>x</b> & <a href=\"https://a.example/\">y</a>";
  const std::string path = "/tmp/John's R&D/x.P12";
  const std::string escaped_cn = "&lt;b&gt;x&lt;/b&gt; &amp; &lt;a href=&quot;https://a.example/&quot;&gt;y&lt;/a&gt;";
  const std::string escaped_path = "/tmp/John&apos;s R&amp;D/x.P12";
  for (bool markup : {true, false}) {
    SCOPED_TRACE(markup ? "a service that reads markup" : "a plain text service");
    ScopedTestHome home;
    PrivateSessionBus bus;
    ScopedSessionBusAddress address(bus.address());
    FakeNotificationService service(bus.address(), FakeNotificationService::Reply::kCloseAtOnce, markup);
    RememberHeldCertificate(Record(cn, "1A2B", kEnd), InPfxFile(path));
    RememberHeldCertificate(Record("B223456789-02", "3C4D", kEnd), InPfxFile("/tmp/\xB3\xAF\xff/x.P12"));
    GLibCriticals complaints;
    ExpiryCheckResult r = RunExpiryCheck(CheckAt(kEnd - 2 * kDay));
    EXPECT_EQ(r.shown, 2) << r.problem;
    EXPECT_EQ(complaints.count, 0);
    auto got = service.received();
    ASSERT_EQ(got.size(), 2u);
    const auto& named = got[0].body.find("B223456789") == std::string::npos ? got[0] : got[1];
    const auto& bad_path = &named == &got[0] ? got[1] : got[0];
    const std::string want_cn = markup ? escaped_cn : cn;
    const std::string want_path = markup ? escaped_path : path;
    EXPECT_EQ(named.body.substr(0, want_cn.size()), want_cn) << named.body;
    EXPECT_EQ(named.body.substr(named.body.size() - want_path.size()), want_path) << named.body;
    if (markup) {
      EXPECT_EQ(named.body.find('<'), std::string::npos) << named.body;
    }
    EXPECT_EQ(named.summary, "QUIL：憑證將於 2 天內到期");
    EXPECT_NE(bad_path.body.find("憑證檔：/tmp/\uFFFD\uFFFD\uFFFD/x.P12"), std::string::npos) << bad_path.body;
  }
}

TEST(ExpiryReminder, RenewedCertificateStartsAfreshAndAReadBackOneDoesNot) {
  ScopedTestHome home;
  Desktop desktop;
  RememberHeldCertificate(Record("A123456789-01", "1A2B", kEnd), InPfxFile("/old.P12"));
  ASSERT_EQ(RunExpiryCheck(CheckAt(kEnd - 2 * kDay)).shown, 1);

  // The same certificate read back elsewhere: nothing new to say.
  RememberHeldCertificate(Record("A123456789-01", "1A2B", kEnd), InPfxFile("/moved.P12"));
  EXPECT_EQ(RunExpiryCheck(CheckAt(kEnd - 2 * kDay)).shown, 0);

  // Renewed: a new serial a year later; its own stages come again.
  const std::time_t renewed_end = kEnd + 365 * kDay;
  RememberHeldCertificate(Record("A123456789-01", "5E6F", renewed_end), InPfxFile("/new.P12"));
  EXPECT_EQ(RunExpiryCheck(CheckAt(kEnd - kDay)).shown, 0) << "the old certificate is not warned about";
  EXPECT_EQ(RunExpiryCheck(CheckAt(renewed_end - 20 * kDay)).shown, 1);
  EXPECT_EQ(Summaries(desktop.service).back(), "QUIL：憑證將於 20 天內到期");
}

TEST(ExpiryReminder, NothingDueNeedsNoSessionAndSucceeds) {
  struct Case {
    const char* name;
    bool record;
  } kCases[] = {{"no record", false}, {"more than 28 days left", true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScopedTestHome home;
    ScopedSessionBusAddress nowhere("unix:path=" + home.path() + "/no-bus");
    if (c.record) RememberHeldCertificate(Record("A123456789-01", "1A2B", kEnd), InMyStore());
    ExpiryCheckResult r = RunExpiryCheck(CheckAt(kEnd - 40 * kDay));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.shown, 0);
    EXPECT_EQ(r.problem, "");
  }
}

TEST(ExpiryReminder, AStageThatCouldNotBeShownIsTriedAgain) {
  ScopedTestHome home;
  RememberHeldCertificate(Record("A123456789-01", "1A2B", kEnd), InMyStore());
  const std::time_t now = kEnd - 6 * kDay;
  PrivateSessionBus bus;
  ScopedSessionBusAddress address(bus.address());
  {
    SCOPED_TRACE("no session bus at all");
    ScopedSessionBusAddress nowhere("unix:path=" + home.path() + "/no-bus");
    ExpiryCheckResult r = RunExpiryCheck(CheckAt(now));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.problem, "");
  }
  {
    SCOPED_TRACE("a bus without a notification service");
    ExpiryCheckResult r = RunExpiryCheck(CheckAt(now));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.problem.find("no notification service"), std::string::npos) << r.problem;
  }
  {
    SCOPED_TRACE("a service that refuses");
    FakeNotificationService refusing(bus.address(), FakeNotificationService::Reply::kRefuse);
    ASSERT_TRUE(refusing.running());
    ExpiryCheckResult r = RunExpiryCheck(CheckAt(now));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.shown, 0);
  }
  EXPECT_TRUE(AnnouncedStages(HeldCertificates().at(0)).empty());
  FakeNotificationService service(bus.address(), FakeNotificationService::Reply::kCloseAtOnce);
  ExpiryCheckResult r = RunExpiryCheck(CheckAt(now));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Summaries(service), (std::vector<std::string>{"QUIL：憑證將於 6 天內到期"}));
}

TEST(ExpiryReminder, ChoosingTheActionStartsQuilAndClosingDoesNot) {
  for (auto reply : {FakeNotificationService::Reply::kChooseAction, FakeNotificationService::Reply::kCloseAtOnce}) {
    const bool choose = reply == FakeNotificationService::Reply::kChooseAction;
    SCOPED_TRACE(choose ? "action chosen" : "closed");
    ScopedTestHome home;
    Desktop desktop(reply);
    RememberHeldCertificate(Record("A123456789-01", "1A2B", kEnd), InMyStore());
    const std::string marker = home.path() + "/started";
    ExpiryCheckResult r =
        RunExpiryCheck(CheckAt(kEnd - kDay, {"/bin/sh", "-c", "echo quil > '" + marker + "'"}));
    EXPECT_EQ(r.shown, 1);
    EXPECT_EQ(r.opened, choose);
    if (!choose) continue;
    // The program is started detached; wait for its mark.
    for (int i = 0; i < 300 && !std::filesystem::exists(marker); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(ReadFileForTest(marker), "quil\n");
  }
}

TEST(ExpiryReminder, AServiceWithoutActionsGetsNoneAndIsNotWaitedFor) {
  ScopedTestHome home;
  Desktop desktop(FakeNotificationService::Reply::kNoActions);
  RememberHeldCertificate(Record("A123456789-01", "1A2B", kEnd), InMyStore());
  ExpiryCheck check = CheckAt(kEnd - kDay, {"/bin/false"});
  // The service never closes it: waiting for the action would last this long.
  check.wait = std::chrono::hours(24);
  ExpiryCheckResult r = RunExpiryCheck(check);
  EXPECT_EQ(r.shown, 1);
  EXPECT_FALSE(r.opened);
  auto got = desktop.service.received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(got[0].actions.empty());
}

// The program as the daily timer runs it.
int RunQuil(const std::vector<std::string>& args) {
  std::string program = std::string(QUIL_TEST_BINARY_DIR) + "/src/quil";
  std::vector<char*> argv{program.data()};
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CheckExpiryCommand, RemindsOnceAndEndsWithZero) {
  ScopedTestHome home;
  {
    SCOPED_TRACE("no record, no bus");
    ScopedSessionBusAddress nowhere("unix:path=" + home.path() + "/no-bus");
    EXPECT_EQ(RunQuil({"--check-expiry"}), 0);
  }
  Desktop desktop;
  RememberHeldCertificate(Record("A123456789-01", "1A2B", std::time(nullptr) + 3 * kDay - kHour),
                          InPfxFile(home.path() + "/my.P12"));
  EXPECT_EQ(RunQuil({"--check-expiry"}), 0);
  EXPECT_EQ(RunQuil({"--check-expiry"}), 0);
  auto got = desktop.service.received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].summary, "QUIL：憑證將於 3 天內到期");
  EXPECT_EQ(got[0].desktop_entry, kAppId);
  EXPECT_EQ(AnnouncedStages(HeldCertificates().at(0)), (std::vector<std::string>{"3d"}));
}

TEST(CheckExpiryCommand, AFailedReminderEndsWithOne) {
  ScopedTestHome home;
  PrivateSessionBus bus;
  ScopedSessionBusAddress address(bus.address());
  RememberHeldCertificate(Record("A123456789-01", "1A2B", std::time(nullptr) - kDay), InMyStore());
  EXPECT_EQ(RunQuil({"--check-expiry"}), 1);
  EXPECT_TRUE(AnnouncedStages(HeldCertificates().at(0)).empty());
}

}  // namespace
}  // namespace quil::testing
