// The start-up check as the application thread's first task, with the
// page's side played through the event channel: page methods wait for it,
// and after a check that ends the program none of them runs.
#include "app/host/startup_check.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <future>

#include "app/app_control.h"
#include "app/host/event_channel.h"
#include "app/host/page_ui.h"
#include "app/method_table.h"
#include "base/settings.h"
#include "proxy/settings_loader.h"
#include "support/test_env.h"

namespace quil::host {
namespace {

using quil::testing::ScopedTestHome;
using quil::testing::WriteFileForTest;

constexpr char kCheckFailed[] = "版本檢核失敗，請檢查您的網路連線狀態\n並在稍後再重新嘗試使用這個軟體";

TEST(StartupCheckTest, PageMethodsWaitForItAndNoneRunsWhenTheProgramMustEnd) {
  ScopedTestHome home;
  // No proxy listens here.
  const char* old_url = getenv("QUIL_PROXY_URL");
  std::string saved = old_url ? old_url : "";
  setenv("QUIL_PROXY_URL", "http://127.0.0.1:9/PELIProxy/proxy/", 1);
  proxy::InstallSettingsLoader();
  ResetSettingsForTesting();
  EventChannel channel;
  PageUi page_ui(&channel);
  ui::SetUi(&page_ui);
  std::atomic<bool> quit{false};
  SetQuitHandler([&] { quit = true; });
  AppThread app;

  std::atomic<long> successor{0};
  PostStartupCheck(&app, {home.path() + "/quil", {}}, &successor);
  // The page's first call, made while the check runs: it copies a file.
  std::string src = home.path() + "/a", dst = home.path() + "/b";
  WriteFileForTest(src, "x");
  auto call = std::async(std::launch::async, [&] {
    std::string reply;
    bool ran = app.Run<std::string>(
        [&] { return RunMethod(*FindMethod("copyFile"), {src, dst}).text; }, &reply);
    return ran;
  });

  // Answer every message box until the check's own.
  std::uint64_t cursor = 0;
  std::string last;
  for (int i = 0; i < 100 && last != kCheckFailed; ++i) {
    for (const auto& e : channel.Next(&cursor, false, std::chrono::milliseconds(100))) {
      if (e.type != "messageBox") continue;
      EXPECT_EQ(access(dst.c_str(), F_OK), -1) << "a page method ran before the check ended";
      last = e.data["text"];
      channel.Answer(e.data["id"], {{"button", "ok"}});
    }
  }
  EXPECT_EQ(last, kCheckFailed);
  for (int i = 0; i < 500 && !quit; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(quit) << "the program is asked to end";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(access(dst.c_str(), F_OK), -1) << "a page method ran after the check ended the program";

  channel.Close();
  app.Stop();
  EXPECT_FALSE(call.get()) << "the waiting call is dropped";
  EXPECT_EQ(access(dst.c_str(), F_OK), -1);
  EXPECT_EQ(successor, 0) << "no update started a successor";

  ui::SetUi(nullptr);
  SetQuitHandler(nullptr);
  ResetSettingsForTesting();
  if (old_url) setenv("QUIL_PROXY_URL", saved.c_str(), 1);
  else unsetenv("QUIL_PROXY_URL");
}

}  // namespace
}  // namespace quil::host
