#include "platform/browser_programs.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <vector>

#include "platform/environment.h"

extern char** environ;

namespace quil::platform {
namespace {

constexpr int kDefaultVersionTimeoutMs = 5000;
int g_version_timeout_ms = kDefaultVersionTimeoutMs;
std::string g_install_root;

enum class Browser { kEdge, kChrome, kChrome64, kFirefox };

// One place a browser may be: a program name looked up on PATH, or a fixed
// path.
struct Candidate {
  bool on_path;
  const char* name;
};

struct BrowserCandidates {
  Browser browser;
  std::vector<Candidate> candidates;  // in order, first found wins
};

// Chromium is Chrome's engine under the name the operator's settings use.
const std::vector<BrowserCandidates>& CandidateTable() {
  static const std::vector<BrowserCandidates> kTable = {
      {Browser::kEdge,
       {{true, "microsoft-edge-stable"}, {true, "microsoft-edge"}, {false, "/opt/microsoft/msedge/microsoft-edge"}}},
      {Browser::kChrome,
       {{true, "google-chrome-stable"},
        {true, "google-chrome"},
        {false, "/opt/google/chrome/google-chrome"},
        {true, "chromium"},
        {true, "chromium-browser"},
        {false, "/snap/bin/chromium"}}},
      {Browser::kChrome64, {{true, "google-chrome-unstable"}}},
      {Browser::kFirefox, {{true, "firefox"}, {true, "firefox-esr"}, {false, "/snap/bin/firefox"}}},
  };
  return kTable;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::vector<std::string> SplitList(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(sep, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// The program's full path on PATH (or the path itself when it has a "/").
std::string FindProgram(const std::string& name) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
  for (const auto& dir : SplitList(GetEnv("PATH"), ':')) {
    std::string full = dir + "/" + name;
    if (IsExecutableFile(full)) return full;
  }
  return {};
}

// The browser a program name belongs to, by the candidate table.
std::optional<Browser> BrowserOfProgram(const std::string& program) {
  const std::string base = BaseName(program);
  for (const auto& entry : CandidateTable())
    for (const auto& c : entry.candidates)
      if (base == BaseName(c.name)) return entry.browser;
  return std::nullopt;
}

// The Flatpak applications of the browsers, by application id.
std::optional<Browser> BrowserOfFlatpak(const std::string& app_id) {
  if (app_id == "org.mozilla.firefox") return Browser::kFirefox;
  if (app_id == "org.chromium.Chromium") return Browser::kChrome;
  return std::nullopt;
}

// --- snaps -------------------------------------------------------------------

const char kSnapBin[] = "/snap/bin/";

// The first bytes of a file; "" when it cannot be read.
std::string FileHead(const std::string& path, size_t size) {
  std::ifstream in(path, std::ios::binary);
  std::string head(size, '\0');
  in.read(head.data(), static_cast<std::streamsize>(size));
  head.resize(static_cast<size_t>(in.gcount()));
  return head;
}

// A snap's program as /snap/bin names it, or a distribution's script that
// only runs one (Ubuntu's /usr/bin/firefox and chromium-browser): the
// snap's program then, when it is there.
BrowserProgram ProgramAt(const std::string& path) {
  BrowserProgram p{path, {}, BrowserPackage::kNative};
  const std::string snap_bin = g_install_root + kSnapBin;
  if (path.compare(0, snap_bin.size(), snap_bin) == 0) {
    p.package = BrowserPackage::kSnap;
    return p;
  }
  const std::string head = FileHead(path, 4096);
  size_t at = head.rfind("#!", 0) == 0 ? head.find(kSnapBin) : std::string::npos;
  if (at == std::string::npos) return p;
  size_t end = at + std::strlen(kSnapBin);
  while (end < head.size() && (std::isalnum(static_cast<unsigned char>(head[end])) || head[end] == '-' ||
                               head[end] == '_' || head[end] == '.'))
    ++end;
  p.package = BrowserPackage::kSnap;
  const std::string snap = g_install_root + head.substr(at, end - at);
  if (end > at + std::strlen(kSnapBin) && IsExecutableFile(snap)) p.path = snap;
  return p;
}

// --- XDG folders -----------------------------------------------------------

std::string XdgHome(const char* var, const char* fallback) {
  std::string v = GetEnv(var);
  return !v.empty() && v[0] == '/' ? v : HomeFolder() + fallback;
}

std::vector<std::string> XdgDirs(const char* var, const char* fallback) {
  std::vector<std::string> dirs;
  for (const auto& d : SplitList(GetEnv(var).empty() ? fallback : GetEnv(var), ':'))
    if (d[0] == '/') dirs.push_back(d);
  return dirs;
}

// The folders holding application entries, most important first: the XDG
// ones, then those of Flatpak's exports and of snapd, which a session
// usually has among them already.
std::vector<std::string> ApplicationFolders() {
  const std::string data_home = XdgHome("XDG_DATA_HOME", "/.local/share");
  std::vector<std::string> folders{data_home + "/applications"};
  for (const auto& d : XdgDirs("XDG_DATA_DIRS", "/usr/local/share:/usr/share")) folders.push_back(d + "/applications");
  for (const std::string& extra : {data_home + "/flatpak/exports/share/applications",
                                   g_install_root + "/var/lib/flatpak/exports/share/applications",
                                   g_install_root + "/var/lib/snapd/desktop/applications"})
    if (std::find(folders.begin(), folders.end(), extra) == folders.end()) folders.push_back(extra);
  return folders;
}

// The values of one group of a desktop-entry style file (key=value lines).
std::vector<std::pair<std::string, std::string>> GroupOf(const std::string& path, const std::string& group) {
  std::vector<std::pair<std::string, std::string>> values;
  std::ifstream in(path);
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inside = line == "[" + group + "]";
      continue;
    }
    size_t eq = line.find('=');
    if (!inside || eq == std::string::npos) continue;
    auto trim = [](std::string s) {
      s.erase(0, s.find_first_not_of(" \t"));
      s.erase(s.find_last_not_of(" \t") + 1);
      return s;
    };
    values.emplace_back(trim(line.substr(0, eq)), trim(line.substr(eq + 1)));
  }
  return values;
}

// An entry's Exec line as arguments, quoting undone by freedesktop.org's
// desktop-entry rules; the first of %u, %U, %f, %F becomes
// kAddressArgument, the other field codes go ("%%" is "%").
std::vector<std::string> ExecArguments(const std::string& entry_path) {
  std::string exec;
  for (const auto& [key, value] : GroupOf(entry_path, "Desktop Entry"))
    if (key == "Exec") {
      exec = value;
      break;
    }
  std::vector<std::string> words;
  std::string word;
  bool in_word = false, quoted = false;
  for (size_t i = 0; i < exec.size(); ++i) {
    char c = exec[i];
    if (quoted) {
      if (c == '\\' && i + 1 < exec.size()) word += exec[++i];
      else if (c == '"') quoted = false;
      else word += c;
    } else if (c == ' ' || c == '\t') {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
    } else {
      in_word = true;
      if (c == '"') quoted = true;
      else word += c;
    }
  }
  if (in_word) words.push_back(word);
  std::vector<std::string> args;
  bool address_placed = false;
  for (const auto& w : words) {
    if (w == "%u" || w == "%U" || w == "%f" || w == "%F") {
      if (!address_placed) args.push_back(kAddressArgument);
      address_placed = true;
      continue;
    }
    if (w.size() == 2 && w[0] == '%' && w[1] != '%') continue;
    args.push_back(w == "%%" ? "%" : w);
  }
  return args;
}

// The browser an application entry starts: a program of the candidate
// table, or "flatpak run" of a browser's application.
struct EntryBrowser {
  std::optional<Browser> browser;
  BrowserProgram program;
};
EntryBrowser BrowserOfEntry(const std::string& entry_path) {
  EntryBrowser e;
  auto args = ExecArguments(entry_path);
  if (args.empty()) return e;
  std::string found = FindProgram(args[0]);
  if (BaseName(args[0]) == "flatpak") {
    auto run = std::find(args.begin(), args.end(), "run");
    auto app = std::find_if(run, args.end(), [](const std::string& a) { return a != "run" && a[0] != '-'; });
    if (run == args.end() || app == args.end() || found.empty()) return e;
    e.browser = BrowserOfFlatpak(*app);
    e.program = {found, std::vector<std::string>(args.begin() + 1, args.end()), BrowserPackage::kFlatpak};
    return e;
  }
  e.browser = BrowserOfProgram(args[0]);
  if (!found.empty()) e.program = ProgramAt(found);
  return e;
}

// The application entries (by file name) in XDG order; an entry name found
// in an earlier folder hides the same name in later ones.
std::vector<std::string> ApplicationEntries() {
  std::vector<std::string> entries, seen;
  for (const auto& folder : ApplicationFolders()) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
      while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name.size() > 8 && name.compare(name.size() - 8, 8, ".desktop") == 0) names.push_back(name);
      }
      closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
      if (std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
      seen.push_back(name);
      entries.push_back(folder + "/" + name);
    }
  }
  return entries;
}

std::string FindEntry(const std::string& id) {
  for (const auto& folder : ApplicationFolders()) {
    std::string path = folder + "/" + id;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return path;
  }
  return {};
}

// --- candidates and the default ----------------------------------------------

BrowserProgram FromPathOrFixed(const BrowserCandidates& entry) {
  for (const auto& c : entry.candidates) {
    std::string found = c.on_path ? FindProgram(c.name) : (IsExecutableFile(g_install_root + c.name)
                                                               ? g_install_root + c.name
                                                               : std::string());
    if (!found.empty()) return ProgramAt(found);
  }
  return {};
}

BrowserProgram FromApplicationEntries(Browser browser, const std::vector<std::string>& entries) {
  for (const auto& entry : entries) {
    EntryBrowser e = BrowserOfEntry(entry);
    if (e.browser == browser && !e.program.path.empty()) return e.program;
  }
  return {};
}

// mimeapps.list files in XDG order: each config folder, then each data
// folder's applications folder, desktop-specific lists first.
std::vector<std::string> MimeAppsLists() {
  std::vector<std::string> folders{XdgHome("XDG_CONFIG_HOME", "/.config")};
  for (const auto& d : XdgDirs("XDG_CONFIG_DIRS", "/etc/xdg")) folders.push_back(d);
  for (const auto& d : ApplicationFolders()) folders.push_back(d);
  std::vector<std::string> desktops;
  for (auto d : SplitList(GetEnv("XDG_CURRENT_DESKTOP"), ':')) {
    for (char& c : d) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    desktops.push_back(d);
  }
  std::vector<std::string> files;
  for (const auto& folder : folders) {
    for (const auto& d : desktops) files.push_back(folder + "/" + d + "-mimeapps.list");
    files.push_back(folder + "/mimeapps.list");
  }
  return files;
}

// The first application entry named for `scheme_type` by the first list
// that names one.
std::string DefaultEntryFor(const std::string& scheme_type) {
  for (const auto& file : MimeAppsLists())
    for (const auto& [key, value] : GroupOf(file, "Default Applications"))
      if (key == scheme_type)
        for (const auto& id : SplitList(value, ';')) return id;
  return {};
}

DefaultBrowser DefaultOf(const std::string& entry_id) {
  if (entry_id.empty()) return DefaultBrowser::kNone;
  std::string stem = entry_id.size() > 8 ? entry_id.substr(0, entry_id.size() - 8) : entry_id;
  std::optional<Browser> browser = BrowserOfProgram(stem);
  if (!browser) browser = BrowserOfFlatpak(stem);
  if (!browser) {
    std::string path = FindEntry(entry_id);
    if (!path.empty()) browser = BrowserOfEntry(path).browser;
  }
  if (!browser) return DefaultBrowser::kNone;
  switch (*browser) {
    case Browser::kEdge: return DefaultBrowser::kEdge;
    case Browser::kFirefox: return DefaultBrowser::kFirefox;
    default: return DefaultBrowser::kChrome;
  }
}

// --- running a program for its output ----------------------------------------

long long NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

// Standard output of `program args...`, run in a process group of its own
// without a display; whatever came within the time-out (the group is then
// ended). Nothing when it could not be started.
std::optional<std::string> RunForOutput(const std::string& program, const std::vector<std::string>& args,
                                        int timeout_ms) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> env_text;
  for (char** e = environ; *e; ++e) {
    std::string v = *e;
    if (v.rfind("DISPLAY=", 0) == 0 || v.rfind("WAYLAND_DISPLAY=", 0) == 0) continue;
    env_text.push_back(std::move(v));
  }
  std::vector<char*> envp;
  for (auto& v : env_text) envp.push_back(v.data());
  envp.push_back(nullptr);

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    return std::nullopt;
  }
  std::string output;
  const long long deadline = NowMs() + timeout_ms;
  for (;;) {
    long long left = deadline - NowMs();
    if (left <= 0) break;
    pollfd p{out[0], POLLIN, 0};
    int n = poll(&p, 1, static_cast<int>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    char buf[4096];
    ssize_t got = read(out[0], buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (output.size() < 65536) output.append(buf, static_cast<size_t>(got));
  }
  close(out[0]);
  // The program may still run (or linger in its children): end its group.
  kill(-pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return output;
}

}  // namespace

BrowserPrograms FindBrowserPrograms() {
  BrowserPrograms found;
  std::vector<std::string> entries;
  bool entries_read = false;
  for (const auto& entry : CandidateTable()) {
    BrowserProgram program = FromPathOrFixed(entry);
    if (program.path.empty()) {
      if (!entries_read) entries = ApplicationEntries();
      entries_read = true;
      program = FromApplicationEntries(entry.browser, entries);
    }
    switch (entry.browser) {
      case Browser::kEdge:
        found.edge = program;
        break;
      case Browser::kChrome:
        found.chrome = program;
        break;
      case Browser::kChrome64:
        found.chrome64 = program;
        break;
      case Browser::kFirefox:
        found.firefox = program;
        break;
    }
  }
  std::string entry = DefaultEntryFor("x-scheme-handler/https");
  if (entry.empty()) entry = DefaultEntryFor("x-scheme-handler/http");
  found.default_browser = DefaultOf(entry);
  return found;
}

namespace {

// The first run of digits followed by at least one ".digits" (an output
// comes from outside: read in one pass, no regular expression).
std::string FirstDottedNumber(const std::string& text) {
  auto digit = [&](size_t i) { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
  for (size_t start = 0; start < text.size();) {
    if (!digit(start)) {
      ++start;
      continue;
    }
    size_t end = start;
    while (digit(end)) ++end;
    size_t whole = end;
    while (whole < text.size() && text[whole] == '.' && digit(whole + 1)) {
      whole += 1;
      while (digit(whole)) ++whole;
    }
    if (whole > end) return text.substr(start, whole - start);
    start = end;
  }
  return {};
}

}  // namespace

std::string ExecutableVersion(const std::string& path) { return ExecutableVersion(BrowserProgram{path, {}, {}}); }

std::string ExecutableVersion(const BrowserProgram& program) {
  if (!IsExecutableFile(program.path)) return {};
  // The arguments that start the browser, without the address and the
  // Flatpak file forwarding around it.
  std::vector<std::string> args;
  for (const auto& a : program.args)
    if (a != kAddressArgument && a != "@@" && a != "@@u" && a != "@@f" && a != "--file-forwarding") args.push_back(a);
  args.push_back("--version");
  auto output = RunForOutput(program.path, args, g_version_timeout_ms);
  if (!output) return {};
  std::string dotted = FirstDottedNumber(*output);
  if (dotted.empty()) return {};
  std::vector<std::string> parts = SplitList(dotted, '.');
  parts.resize(4, "0");
  return parts[0] + "." + parts[1] + "." + parts[2] + "." + parts[3];
}

void SetVersionTimeoutForTesting(int milliseconds) {
  g_version_timeout_ms = milliseconds > 0 ? milliseconds : kDefaultVersionTimeoutMs;
}

void SetInstallRootForTesting(const std::string& root) { g_install_root = root; }

}  // namespace quil::platform
