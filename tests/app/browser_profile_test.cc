#include "app/host/browser_profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "app/host/browser_window.h"
#include "support/test_env.h"

namespace quil::host {
namespace {

using nlohmann::json;

json ReadPreferences(const std::string& folder) {
  return json::parse(testing::ReadFileForTest(folder + "/Default/Preferences"));
}

// Every preference of QUIL's is in `prefs` with QUIL's value.
void ExpectQuilPreferences(const json& prefs) {
  EXPECT_EQ(prefs["credentials_enable_service"], false);
  EXPECT_EQ(prefs["profile"]["password_manager_enabled"], false);
  EXPECT_EQ(prefs["autofill"]["profile_enabled"], false);
  EXPECT_EQ(prefs["autofill"]["credit_card_enabled"], false);
  EXPECT_EQ(prefs["translate"]["enabled"], false);
  EXPECT_EQ(prefs["signin"]["allowed"], false);
}

TEST(BrowserProfile, WritesQuilsPreferencesIntoEveryKindOfProfile) {
  struct Case {
    const char* name;
    const char* saved;  // the Preferences file before the start; nullptr: none
  };
  const Case cases[] = {
      {"a new profile", nullptr},
      {"the browser's own values turned back", R"({"translate":{"enabled":true},"credentials_enable_service":true})"},
      {"a damaged file", "{\"translate\": {\"enab"},
      {"not an object", "[1,2,3]"},
      {"an empty file", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::ScopedTestHome home;
    std::string folder = home.path() + "/state/browser-profile";
    if (c.saved) testing::WriteFileForTest(folder + "/Default/Preferences", c.saved);
    std::string problem;
    ASSERT_TRUE(PrepareWindowProfile(folder, &problem)) << problem;
    ExpectQuilPreferences(ReadPreferences(folder));
    struct stat st;
    ASSERT_EQ(stat((folder + "/Default/Preferences").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
}

TEST(BrowserProfile, KeepsWhatTheBrowserSavedBesideIt) {
  testing::ScopedTestHome home;
  std::string folder = home.path() + "/browser-profile";
  // The customer's zoom of the page, the window's place, the browser's other settings.
  testing::WriteFileForTest(folder + "/Default/Preferences", R"({
    "partition": {"per_host_zoom_levels": {"x": {"127.0.0.1": {"zoom_level": 3.8}}}},
    "browser": {"window_placement": {"left": 5}, "has_seen_welcome_page": false},
    "profile": {"name": "人員 1", "password_manager_enabled": true},
    "translate": {"enabled": true, "blocked_languages": ["zh-TW"]}
  })");
  std::string problem;
  ASSERT_TRUE(PrepareWindowProfile(folder, &problem)) << problem;
  json prefs = ReadPreferences(folder);
  ExpectQuilPreferences(prefs);
  EXPECT_EQ(prefs["partition"]["per_host_zoom_levels"]["x"]["127.0.0.1"]["zoom_level"], 3.8);
  EXPECT_EQ(prefs["browser"]["window_placement"]["left"], 5);
  EXPECT_EQ(prefs["browser"]["has_seen_welcome_page"], true);
  EXPECT_EQ(prefs["profile"]["name"], "人員 1");
  EXPECT_EQ(prefs["translate"]["blocked_languages"], json::array({"zh-TW"}));
}

TEST(BrowserProfile, SaysWhenTheProfileCannotBeWritten) {
  testing::ScopedTestHome home;
  std::string folder = home.path() + "/browser-profile";
  testing::WriteFileForTest(folder, "a file where the folder should be");
  std::string problem;
  EXPECT_FALSE(PrepareWindowProfile(folder, &problem));
  EXPECT_NE(problem.find(folder), std::string::npos) << problem;
}

TEST(AppWindow, ArgumentsNameTheProfileAndMakeRoomForTheFlagBar) {
  struct Case {
    const char* name;
    std::vector<std::string> browser_args;
    const char* window_size;
  };
  const Case cases[] = {
      {"sandboxed", {}, "--window-size=687,470"},
      {"without the sandbox: the bar's height more", {"--no-sandbox"}, "--window-size=687,526"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = AppWindowArguments("file:///launch.html", "/p", c.browser_args);
    auto has = [&](const std::string& a) { return std::find(args.begin(), args.end(), a) != args.end(); };
    EXPECT_EQ(args.front(), "--app=file:///launch.html");
    EXPECT_TRUE(has("--user-data-dir=/p"));
    EXPECT_TRUE(has(c.window_size));
    EXPECT_TRUE(has("--no-first-run"));
    EXPECT_TRUE(has("--disable-sync"));
    EXPECT_EQ(has("--no-sandbox"), !c.browser_args.empty());
  }
}

}  // namespace
}  // namespace quil::host
