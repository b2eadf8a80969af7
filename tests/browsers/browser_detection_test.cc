#include "browsers/browser_detection.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

#include "fake_desktop.h"
#include "platform/browser_programs.h"

namespace quil::testing {
namespace {

std::string Names(const std::vector<InstalledBrowser>& list, bool selected_only = false) {
  std::string out;
  for (const auto& b : list) {
    if (selected_only && !b.selected) continue;
    out += (out.empty() ? "" : ",") + b.name;
  }
  return out;
}

const InstalledBrowser* Find(const std::vector<InstalledBrowser>& list, const std::string& name) {
  for (const auto& b : list)
    if (b.name == name) return &b;
  return nullptr;
}

TEST(BrowserDetectionTest, VersionLimitsAndTheVersionText) {
  struct Case {
    const char* name;
    const char* program;
    const char* output;
    const char* listed_as;  // nullptr: not listed
    const char* version;
  } cases[] = {
      {"Chrome 42", "google-chrome", "Google Chrome 42.0.2311.135", nullptr, ""},
      {"Chrome 43", "google-chrome", "Google Chrome 43.0.2357.65 ", "Chrome", "43.0.2357.65"},
      {"Chromium under Chrome's name", "chromium", "Chromium 156.0.8078.129 built on Debian GNU/Linux 12",
       "Chrome", "156.0.8078.129"},
      {"Chrome 64 43", "google-chrome-unstable", "Google Chrome 43.0.1.0 unstable", "Chrome 64", "43.0.1.0"},
      {"Chrome 64 42", "google-chrome-unstable", "Google Chrome 42.9", nullptr, ""},
      {"FireFox 37", "firefox", "Mozilla Firefox 37.0.2", nullptr, ""},
      {"FireFox 38, completed to four numbers", "firefox", "Mozilla Firefox 38.0", "FireFox", "38.0.0.0"},
      {"ESR", "firefox-esr", "Mozilla Firefox 153.8.0esr", "FireFox", "153.8.0.0"},
      {"no version printed", "google-chrome", "no version here", nullptr, ""},
      {"Edge, any version", "microsoft-edge", "Microsoft Edge 12", "Microsoft Edge", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDesktop desktop;
    std::string path = desktop.AddProgram(c.program, c.output);
    auto list = detectBrowsers("", "");
    if (!c.listed_as) {
      EXPECT_TRUE(list.empty()) << Names(list);
      continue;
    }
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, c.listed_as);
    EXPECT_EQ(list[0].path, path);
    EXPECT_EQ(list[0].version, c.version);
  }
}

TEST(BrowserDetectionTest, ProgramThatNeverAnswersHasNoVersion) {
  FakeDesktop desktop;
  platform::SetVersionTimeoutForTesting(300);
  std::string path = desktop.bin() + "/google-chrome";
  desktop.AddProgramAt(path, "");
  WriteFileForTest(path, "#!/bin/sh\nexec sleep 30\n");
  EXPECT_EQ(platform::ExecutableVersion(path), "");
  platform::SetVersionTimeoutForTesting(0);
  EXPECT_EQ(platform::ExecutableVersion(desktop.bin() + "/missing"), "");
}

TEST(BrowserDetectionTest, FirstCandidateWinsWithinEachBrowser) {
  struct Program {
    enum Where { kPath, kFixed, kEntryOnly } where;
    const char* name;  // program name, or the fixed path under the install root
  };
  struct Case {
    const char* name;
    std::vector<Program> programs;
    const char* browser;
    const char* winner;  // the program's file name
  } cases[] = {
      {"stable before plain",
       {{Program::kPath, "google-chrome"}, {Program::kPath, "google-chrome-stable"}},
       "Chrome", "google-chrome-stable"},
      {"Google's folder before Chromium",
       {{Program::kPath, "chromium"}, {Program::kFixed, "/opt/google/chrome/google-chrome"}},
       "Chrome", "google-chrome"},
      {"chromium before chromium-browser",
       {{Program::kPath, "chromium-browser"}, {Program::kPath, "chromium"}},
       "Chrome", "chromium"},
      {"firefox before firefox-esr",
       {{Program::kPath, "firefox-esr"}, {Program::kPath, "firefox"}},
       "FireFox", "firefox"},
      {"Edge's own folder",
       {{Program::kFixed, "/opt/microsoft/msedge/microsoft-edge"}},
       "Microsoft Edge", "microsoft-edge"},
      {"an application entry when PATH has nothing",
       {{Program::kEntryOnly, "firefox-esr"}},
       "FireFox", "firefox-esr"},
      {"PATH before the application entries",
       {{Program::kEntryOnly, "google-chrome"}, {Program::kPath, "chromium"}},
       "Chrome", "chromium"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDesktop desktop;
    const std::string version = std::string(c.browser) == "FireFox" ? "Mozilla Firefox 115.0" : "Browser 120.0.1.2";
    for (const auto& p : c.programs) {
      if (p.where == Program::kPath) desktop.AddProgram(p.name, version);
      if (p.where == Program::kFixed) desktop.AddProgramAt(desktop.install_root() + p.name, version);
      if (p.where == Program::kEntryOnly) {
        std::string path = desktop.AddProgramAt(desktop.home() + "/lib/" + p.name + "/" + p.name, version);
        desktop.AddEntry(desktop.system_data(), std::string(p.name) + ".desktop", path + " %u");
      }
    }
    auto list = detectBrowsers("", "");
    const InstalledBrowser* b = Find(list, c.browser);
    ASSERT_NE(b, nullptr) << Names(list);
    EXPECT_EQ(b->path.substr(b->path.rfind('/') + 1), c.winner) << b->path;
  }
}

// Browsers as Linux distributions install them: a snap under /snap/bin
// (also behind a distribution's wrapper script on PATH), a Flatpak through
// the entry Flatpak exports, whose Exec line runs "flatpak run".
TEST(BrowserDetectionTest, SnapAndFlatpakInstalls) {
  using platform::BrowserPackage;
  const std::string firefox_run =
      "run --branch=stable --arch=x86_64 --command=firefox --file-forwarding org.mozilla.firefox @@u %u @@";
  struct Case {
    const char* name;
    std::function<void(FakeDesktop&)> install;
    const char* browser;  // "" when none is listed
    std::string path;     // relative to the fake desktop's home
    std::vector<std::string> args;
    BrowserPackage package;
  } cases[] = {
      {"a snap in /snap/bin",
       [](FakeDesktop& d) { d.AddProgramAt(d.install_root() + "/snap/bin/firefox", "Mozilla Firefox 128.0.3"); },
       "FireFox",
       "/root/snap/bin/firefox",
       {},
       BrowserPackage::kSnap},
      {"a distribution's wrapper of the snap on PATH",
       [](FakeDesktop& d) {
         d.AddProgramAt(d.install_root() + "/snap/bin/chromium", "Chromium 130.0.6723.58 snap");
         WriteFileForTest(
             d.bin() + "/chromium-browser",
             "#!/bin/sh\nif ! [ -x /snap/bin/chromium ]; then exit 1; fi\nexec /snap/bin/chromium \"$@\"\n");
         chmod((d.bin() + "/chromium-browser").c_str(), 0755);
       },
       "Chrome",
       "/root/snap/bin/chromium",
       {},
       BrowserPackage::kSnap},
      {"Flatpak's exported entry of the user",
       [&](FakeDesktop& d) {
         // Answers only the version query of the application itself.
         WriteFileForTest(d.bin() + "/flatpak",
                          "#!/bin/sh\n[ \"$*\" = 'run --branch=stable --arch=x86_64 --command=firefox "
                          "org.mozilla.firefox --version' ] && echo 'Mozilla Firefox 128.0.3'\nexit 0\n");
         chmod((d.bin() + "/flatpak").c_str(), 0755);
         d.AddEntry(d.user_data() + "/flatpak/exports/share", "org.mozilla.firefox.desktop",
                    d.bin() + "/flatpak " + firefox_run);
       },
       "FireFox",
       "/bin/flatpak",
       {"run", "--branch=stable", "--arch=x86_64", "--command=firefox", "--file-forwarding", "org.mozilla.firefox",
        "@@u", "%u", "@@"},
       BrowserPackage::kFlatpak},
      {"Flatpak's system exports",
       [](FakeDesktop& d) {
         d.AddProgram("flatpak", "Chromium 130.0.6723.58");
         d.AddEntry(d.install_root() + "/var/lib/flatpak/exports/share", "org.chromium.Chromium.desktop",
                    "flatpak run --branch=stable --arch=x86_64 --command=/app/bin/chromium --file-forwarding "
                    "org.chromium.Chromium @@u %U @@");
       },
       "Chrome",
       "/bin/flatpak",
       {"run", "--branch=stable", "--arch=x86_64", "--command=/app/bin/chromium", "--file-forwarding",
        "org.chromium.Chromium", "@@u", "%u", "@@"},
       BrowserPackage::kFlatpak},
      {"a Flatpak of another application is no browser",
       [](FakeDesktop& d) {
         d.AddProgram("flatpak", "Web 46.0");
         d.AddEntry(d.user_data() + "/flatpak/exports/share", "org.gnome.Epiphany.desktop",
                    "flatpak run --branch=stable --arch=x86_64 --command=epiphany org.gnome.Epiphany %U");
       },
       "",
       "",
       {},
       BrowserPackage::kNative},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDesktop desktop;
    c.install(desktop);
    auto list = detectBrowsers("", "");
    if (std::string(c.browser).empty()) {
      EXPECT_EQ(Names(list), "");
      continue;
    }
    const InstalledBrowser* b = Find(list, c.browser);
    ASSERT_NE(b, nullptr) << Names(list);
    EXPECT_EQ(b->path, desktop.home() + c.path);
    EXPECT_EQ(b->args, c.args);
    EXPECT_EQ(b->package, c.package);
    EXPECT_TRUE(desktop.Starts(b->path.substr(b->path.rfind('/') + 1), 0).empty()) << "only asked for its version";
  }

  // Flatpak's entry named as the default browser.
  FakeDesktop desktop;
  desktop.AddProgram("chromium", "Chromium 120.0.1.2");
  desktop.AddProgram("flatpak", "Mozilla Firefox 128.0.3");
  desktop.AddEntry(desktop.user_data() + "/flatpak/exports/share", "org.mozilla.firefox.desktop",
                   desktop.bin() + "/flatpak " + firefox_run);
  desktop.AddMimeApps(desktop.user_config(), {"x-scheme-handler/https=org.mozilla.firefox.desktop"});
  std::string defaults;
  for (const auto& b : detectBrowsers("", ""))
    if (b.isDefault) defaults += b.name;
  EXPECT_EQ(defaults, "FireFox");
}

TEST(BrowserDetectionTest, ListKeepsTheDetectionOrder) {
  FakeDesktop desktop;
  desktop.AddProgram("firefox", "Mozilla Firefox 115.0");
  desktop.AddProgram("google-chrome-unstable", "Google Chrome 130.0.1.1");
  desktop.AddProgram("chromium", "Chromium 120.0.1.2");
  desktop.AddProgram("microsoft-edge-stable", "Microsoft Edge 120.0.1.3");
  auto list = detectBrowsers("", "");
  EXPECT_EQ(Names(list), "Microsoft Edge,Chrome,Chrome 64,FireFox");
  std::string ids;
  for (const auto& b : list) ids += b.id;
  EXPECT_EQ(ids, "1243");
}

TEST(BrowserDetectionTest, DefaultBrowserFromMimeApps) {
  struct Case {
    const char* name;
    std::vector<std::string> user_lines;    // ~/.config/mimeapps.list
    std::vector<std::string> system_lines;  // the system's mimeapps.list
    bool with_edge;
    const char* expected;  // the default's name, "" for none
    bool with_firefox = true;
  } cases[] = {
      {"Chromium names Chrome", {"x-scheme-handler/https=chromium.desktop;firefox-esr.desktop;"}, {}, false,
       "Chrome"},
      {"Firefox ESR names FireFox", {"x-scheme-handler/https=firefox-esr.desktop"}, {}, false, "FireFox"},
      {"the user's list before the system's", {"x-scheme-handler/https=firefox.desktop"},
       {"x-scheme-handler/https=chromium.desktop"}, false, "FireFox"},
      {"https before http", {"x-scheme-handler/http=firefox.desktop"},
       {"x-scheme-handler/https=google-chrome.desktop"}, false, "Chrome"},
      {"http when no list names https", {"x-scheme-handler/http=firefox.desktop"}, {}, false, "FireFox"},
      {"an entry known by its program", {"x-scheme-handler/https=org.example.Browser.desktop"}, {}, false,
       "FireFox"},
      {"another browser names nothing", {"x-scheme-handler/https=epiphany.desktop"}, {}, false, ""},
      {"nothing named: Edge when found", {"x-scheme-handler/https=epiphany.desktop"}, {}, true, "Microsoft Edge"},
      {"Edge named", {"x-scheme-handler/https=microsoft-edge.desktop"}, {}, true, "Microsoft Edge"},
      {"Chrome 64 names Chrome", {"x-scheme-handler/https=google-chrome-unstable.desktop"}, {}, true, "Chrome"},
      {"a named browser that is not detected", {"x-scheme-handler/https=firefox.desktop"}, {}, true, "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDesktop desktop;
    desktop.AddProgram("chromium", "Chromium 120.0.1.2");
    if (c.with_firefox) desktop.AddProgram("firefox", "Mozilla Firefox 115.0");
    if (c.with_edge) desktop.AddProgram("microsoft-edge", "Microsoft Edge 1");
    desktop.AddEntry(desktop.system_data(), "org.example.Browser.desktop", "/usr/lib/firefox/firefox %u");
    if (!c.user_lines.empty()) desktop.AddMimeApps(desktop.user_config(), c.user_lines);
    if (!c.system_lines.empty()) desktop.AddMimeApps(desktop.system_data() + "/applications", c.system_lines);
    std::string defaults;
    for (const auto& b : detectBrowsers("", ""))
      if (b.isDefault) defaults += (defaults.empty() ? "" : ",") + b.name;
    EXPECT_EQ(defaults, c.expected);
  }
}

InstalledBrowser Entry(const char* id, const char* name, bool is_default = false) {
  InstalledBrowser b;
  b.id = id;
  b.name = name;
  b.isDefault = is_default;
  return b;
}

TEST(BrowserDetectionTest, DefaultNamedByThePlatform) {
  struct Case {
    const char* name;
    const char* platform_default;  // "" when the platform names none
    bool with_edge;
    const char* expected;  // the default's name, "" for none
  } cases[] = {
      {"Internet Explorer is never listed, so nothing is default", "Internet Explorer", true, ""},
      {"Internet Explorer without Edge", "Internet Explorer", false, ""},
      {"nothing named: Edge when listed", "", true, "Microsoft Edge"},
      {"nothing named and no Edge", "", false, ""},
      {"a listed browser", "FireFox", true, "FireFox"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<InstalledBrowser> list = {Entry("2", "Chrome"), Entry("3", "FireFox")};
    if (c.with_edge) list.insert(list.begin(), Entry("1", "Microsoft Edge"));
    markDefault(list, c.platform_default);
    std::string defaults;
    for (const auto& b : list)
      if (b.isDefault) defaults += (defaults.empty() ? "" : ",") + b.name;
    EXPECT_EQ(defaults, c.expected);
  }
}

TEST(BrowserDetectionTest, Preselection) {
  const std::vector<InstalledBrowser> all = {Entry("1", "Microsoft Edge"), Entry("2", "Chrome", true),
                                             Entry("3", "FireFox")};
  const std::vector<InstalledBrowser> no_default = {Entry("2", "Chrome"), Entry("3", "FireFox")};
  const std::vector<InstalledBrowser> chrome_only = {Entry("1", "Microsoft Edge"), Entry("2", "Chrome")};
  struct Case {
    const char* name;
    const std::vector<InstalledBrowser>& list;
    const char* selection;
    const char* mode;
    const char* selected;
  } cases[] = {
      {"DEFAULT,ALL in S: the default only", all, "DEFAULT,ALL", "S", "Chrome"},
      {"DEFAULT,ALL in S without a default: nothing", no_default, "DEFAULT,ALL", "S", ""},
      {"ALL in M: everything", all, "ALL", "M", "Microsoft Edge,Chrome,FireFox"},
      {"FireFox,Chrome in S: FireFox when present", all, "FireFox,Chrome", "S", "FireFox"},
      {"FireFox,Chrome in S: Chrome when FireFox is absent", chrome_only, "FireFox,Chrome", "S", "Chrome"},
      {"names in M", all, "Chrome,,FireFox", "M", "Chrome,FireFox"},
      {"names are exact", all, "chrome,Firefox", "M", ""},
      {"empty list", all, "", "M", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto list = c.list;
    for (auto& b : list) b.selected = true;  // cleared first
    preselect(list, c.selection, c.mode);
    EXPECT_EQ(Names(list, true), c.selected);
  }
}

TEST(BrowserDetectionTest, MajorVersion) {
  struct Case {
    const char* version;
    bool present;
    int value;
  } cases[] = {{"43.0.2357.65", true, 43}, {"38", true, 38}, {"", false, 0}, {"abc", true, 0}, {"12a.1", true, 12}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    EXPECT_EQ(majorVersion(c.version).present, c.present);
    EXPECT_EQ(majorVersion(c.version).value, c.value);
  }
}

}  // namespace
}  // namespace quil::testing
