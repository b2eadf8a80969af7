// The security component against the demo proxy: its installer, fetched
// and started by cpntAutoUpdate, installs the signing host and extension
// built here for the user and registers the host with the real `quil reg`;
// the version check then asks the host itself.
#include "maintenance/security_component.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "app/method_table.h"
#include "base/pause.h"
#include "base/settings.h"
#include "browsers/signing_component.h"
#include "build_config.h"
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

// A Firefox profile of the user, as profiles.ini lists it.
std::string MakeFirefoxProfile(const std::string& home) {
  const std::string base = home + "/.mozilla/firefox";
  fs::create_directories(base + "/ab12.default-esr");
  testing::WriteFileForTest(base + "/profiles.ini",
                            "[Profile0]\nName=default-esr\nIsRelative=1\nPath=ab12.default-esr\nDefault=1\n\n"
                            "[General]\nStartWithLastProfile=1\nVersion=2\n");
  testing::WriteFileForTest(base + "/ab12.default-esr/user.js", "user_pref(\"browser.startup.page\", 0);\n");
  return base + "/ab12.default-esr";
}

TEST_F(SecurityComponentTest, AnOlderComponentIsUpdatedByTheDemoInstaller) {
  RegisterComponent("1,0,0,1");
  EXPECT_FALSE(isSecurityComponentCurrent());
  const std::string profile = MakeFirefoxProfile(home_.path());
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
  const std::string key = std::string("Software\\Classes\\CLSID\\{") + kClass + "}\\LocalServer32";
  const std::string host = home_.path() + "/.local/share/quil/signer/quil-signer";
  auto server = hive.QueryValue(key, "");
  ASSERT_TRUE(server);
  EXPECT_EQ(server->data, host);

  // Where the browsers find it: the host's manifests, the extension in the
  // Firefox profile with the preferences an unsigned one there needs.
  const std::string name = QUIL_SIGNER_HOST_NAME ".json";
  const std::string chromium = testing::ReadFileForTest(home_.path() + "/.config/chromium/NativeMessagingHosts/" + name);
  EXPECT_NE(chromium.find("\"path\": \"" + host + "\""), std::string::npos) << chromium;
  EXPECT_NE(chromium.find("chrome-extension://" QUIL_EXTENSION_CHROMIUM_ID "/"), std::string::npos) << chromium;
  const std::string firefox = testing::ReadFileForTest(home_.path() + "/.mozilla/native-messaging-hosts/" + name);
  EXPECT_NE(firefox.find("\"allowed_extensions\": [\"" QUIL_EXTENSION_GECKO_ID "\"]"), std::string::npos) << firefox;
  EXPECT_TRUE(fs::exists(home_.path() + "/.local/share/quil/signer/extension/manifest.json"));
  EXPECT_TRUE(fs::exists(profile + "/extensions/" QUIL_EXTENSION_GECKO_ID ".xpi"));
  const std::string prefs = testing::ReadFileForTest(profile + "/user.js");
  EXPECT_NE(prefs.find("user_pref(\"browser.startup.page\", 0);"), std::string::npos) << "the profile's own kept";
  EXPECT_NE(prefs.find("user_pref(\"xpinstall.signatures.required\", false);"), std::string::npos) << prefs;
  EXPECT_NE(prefs.find("user_pref(\"extensions.autoDisableScopes\", 0);"), std::string::npos) << prefs;

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

  // A second run changes nothing twice over.
  ui_->message_answers = {ui::Answer::kOk, ui::Answer::kOk};
  RegisterComponent("1,0,0,1");
  EXPECT_EQ(Call("cpntAutoUpdate"), "");
  for (int i = 0; i < 300 && !isSecurityComponentCurrent(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(testing::ReadFileForTest(profile + "/user.js"), prefs);
}

TEST_F(SecurityComponentTest, DeploymentRegistersTheInstalledHost) {
  // Installed for the user (as the demo installer does) but not registered.
  const std::string host = home_.path() + "/signer/quil-signer";
  fs::create_directories(home_.path() + "/signer");
  fs::copy_file(QUIL_TEST_BINARY_DIR "/src/quil-signer", host);
  testing::WriteFileForTest(home_.path() + "/.mozilla/native-messaging-hosts/" QUIL_SIGNER_HOST_NAME ".json",
                            "{\"name\": \"" QUIL_SIGNER_HOST_NAME "\", \"path\": \"" + host +
                                "\", \"type\": \"stdio\", \"allowed_extensions\": [\"x@y\"]}");
  EXPECT_FALSE(isSecurityComponentCurrent());
  EXPECT_EQ(InstalledSigningHost(), host);
  RegisterSigningComponent();
  EXPECT_TRUE(isSecurityComponentCurrent());

  // A manifest naming no program is no installation.
  fs::remove(host);
  EXPECT_EQ(InstalledSigningHost(), "");
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
