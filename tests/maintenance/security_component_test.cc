// The security component against the demo proxy: its installer, fetched
// and started by cpntAutoUpdate, installs the demo component and registers
// it with the real `quil reg`.
#include "maintenance/security_component.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "app/method_table.h"
#include "base/pause.h"
#include "base/settings.h"
#include "devproxy/devproxy.h"
#include "platform/registry.h"
#include "proxy/settings_loader.h"
#include "support/test_env.h"
#include "ui/progress_window.h"
#include "ui/scripted_ui.h"

namespace quil {
namespace {

namespace fs = std::filesystem;
using testing::ScopedTestHome;

constexpr char kQuestionCaption[] = "安控元件安裝提示";
constexpr char kQuestion[] =
    "您尚未安裝安控元件或目前使用的版本需要更新。\n\n開始下載安控元件安裝檔並進行安控元件安裝？";
constexpr char kStarting[] = "安控元件安裝檔下載完成，現在將開始為您啟動安控元件安裝程序";
constexpr char kDownloadFailed[] = "安控元件安裝檔下載失敗，請稍後再重新嘗試下載及安裝";
constexpr char kClass[] = "6D3F9A1C-2B4E-4C7A-9E51-7A2B3C4D5E6F";

// One demo proxy for the file; each test gets a fresh home, UI and settings.
class SecurityComponentTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    data_ = new std::string(fs::temp_directory_path() / ("quil-component-" + std::to_string(getpid())));
    std::string error;
    devproxy::Options options;
    options.data_dir = *data_;
    options.key_set = testing::TestKeySet();
    proxy_ = devproxy::DevProxy::Start(options, &error).release();
    ASSERT_NE(proxy_, nullptr) << error;
    proxy_->ExportEnvironment();
  }
  static void TearDownTestSuite() {
    delete proxy_;
    fs::remove_all(*data_);
    delete data_;
  }
  void SetUp() override {
    ASSERT_NE(proxy_, nullptr);
    proxy_->ApplySettingsProfile("pfx");
    proxy::InstallSettingsLoader();
    ResetSettingsForTesting();
    SetPauseForTesting([](Milliseconds) {});
  }
  void TearDown() override {
    ResetSettingsForTesting();
    ui::ResetProgressWindowForTesting();
    SetPauseForTesting(nullptr);
  }

  std::string Call(const char* method) { return RunMethod(*FindMethod(method), {}).text; }
  std::vector<fs::path> Installers() {
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(home_.path() + "/mero", ec)) found.push_back(e.path());
    return found;
  }
  // Registers a component program answering GetVersion with `version`.
  void RegisterComponent(const std::string& version) {
    std::string path = home_.path() + "/component";
    testing::WriteFileForTest(path, "#!/bin/sh\necho '" + version + "'\n");
    chmod(path.c_str(), 0755);
    std::string key = std::string("Software\\Classes\\CLSID\\{") + kClass + "}\\LocalServer32";
    platform::CurrentUserHive().CreateKey(key);
    platform::CurrentUserHive().SetValue(key, platform::RegSz("", path));
  }

  static devproxy::DevProxy* proxy_;
  static std::string* data_;
  ScopedTestHome home_;
  ui::ScopedScriptedUi ui_;
};

devproxy::DevProxy* SecurityComponentTest::proxy_ = nullptr;
std::string* SecurityComponentTest::data_ = nullptr;

TEST_F(SecurityComponentTest, TheDemoInstallerRegistersTheRequiredVersion) {
  EXPECT_FALSE(isSecurityComponentCurrent());
  ui_->message_answers = {ui::Answer::kOk, ui::Answer::kOk};
  EXPECT_EQ(Call("cpntAutoUpdate"), "");
  EXPECT_EQ(ui_->captions, std::vector<std::string>{kQuestionCaption});
  EXPECT_EQ(ui_->messages, (std::vector<std::string>{kQuestion, kStarting}));
  auto installers = Installers();
  ASSERT_EQ(installers.size(), 1u);
  EXPECT_TRUE(std::regex_match(installers[0].filename().string(), std::regex("[0-9]{14}\\.exe")));
  EXPECT_EQ(fs::status(installers[0]).permissions() & fs::perms::all, fs::perms::owner_all);

  // The installer runs on its own; its last step records the installation.
  auto& hive = platform::CurrentUserHive();
  for (int i = 0; i < 300 && !hive.QueryValue("Software\\MERO\\MeroCpnt", "Installed"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(hive.QueryValue("Software\\MERO\\MeroCpnt", "Installed")) << "the installer did not finish";
  EXPECT_TRUE(isSecurityComponentCurrent());
  auto server = hive.QueryValue(
      std::string("Software\\Classes\\CLSID\\{") + kClass + "}\\LocalServer32", "");
  ASSERT_TRUE(server);
  EXPECT_EQ(server->data, home_.path() + "/.local/share/quil/MeroCpnt/merocpnt");

  ui_->messages.clear();
  ui_->captions.clear();
  EXPECT_EQ(Call("cpntAutoUpdate"), "");
  EXPECT_TRUE(ui_->messages.empty()) << "a current component shows nothing";
  EXPECT_EQ(Installers().size(), 1u);

  std::string check = Call("getClientReg");
  EXPECT_NE(check.find("'A1':'1#1#" + proxy_->origin() + "/download/MeroCpnt.cab#version=1,0,0,2'"),
            std::string::npos)
      << check;
  EXPECT_NE(check.find("'A2':'1#1#"), std::string::npos) << check;
}

TEST_F(SecurityComponentTest, VersionsCompareAsTextNotAsNumbers) {
  proxy_->SetSysCfg("component.activeX.version32", "1.0.0.10");
  struct Case {
    const char* reported;
    bool current;
  } cases[] = {{"1.0.0.1", false}, {"1.0.0.100", false}, {"1.0.0.10 ", false}, {"1.0.0.10", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reported);
    RegisterComponent(c.reported);
    EXPECT_EQ(isSecurityComponentCurrent(), c.current);
  }
}

TEST_F(SecurityComponentTest, DecliningTheQuestionDownloadsNothing) {
  RegisterComponent("1,0,0,1");
  ui_->message_answers = {ui::Answer::kCancel};
  EXPECT_EQ(Call("cpntAutoUpdate"), "");
  EXPECT_EQ(ui_->messages, std::vector<std::string>{kQuestion});
  EXPECT_TRUE(Installers().empty());
  EXPECT_TRUE(ui_->progress.empty());
}

TEST_F(SecurityComponentTest, AFailedDownloadIsReportedAndStartsNothing) {
  for (const std::string& url : {std::string(), proxy_->origin() + "/download/Missing.exe"}) {
    SCOPED_TRACE(url);
    ResetSettingsForTesting();
    proxy_->SetSysCfg("meroCpnt.dlUrl", url);
    ui_->messages.clear();
    ui_->message_answers = {ui::Answer::kOk, ui::Answer::kOk};
    EXPECT_EQ(Call("cpntAutoUpdate"), "");
    EXPECT_EQ(ui_->messages, (std::vector<std::string>{kQuestion, kDownloadFailed}));
    EXPECT_TRUE(Installers().empty());
  }
}

}  // namespace
}  // namespace quil
