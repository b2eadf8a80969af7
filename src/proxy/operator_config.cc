#include "proxy/operator_config.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "base/files.h"
#include "base/text.h"
#include "build_config.h"
#include "platform/environment.h"
#include "platform/files.h"

namespace quil::proxy {
namespace {

// The settings a file or the environment may give, with the paths among them.
struct Setting {
  const char* name;
  bool is_path;
};
constexpr Setting kFileSettings[] = {
    {"QUIL_PROXY_URL", false}, {"QUIL_PROXY_PUBKEY", true}, {"QUIL_PROXY_CA", true},
    {"QUIL_BRIDGE_URL", false}, {"QUIL_IP_SERVICES", false},
};
// Turning off the server check stays a deliberate act of one run: a file
// would keep it on long after the test that needed it.
constexpr char kInsecure[] = "QUIL_TLS_INSECURE";

const Setting* FindSetting(const std::string& name) {
  for (const Setting& s : kFileSettings)
    if (name == s.name) return &s;
  return nullptr;
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> out;
  for (const std::string& piece : SplitNonEmpty(text, ','))
    if (std::string item = TrimSpace(piece); !item.empty()) out.push_back(std::move(item));
  return out;
}

std::string FolderOf(const std::string& path) {
  size_t end = path.size();
  while (end > 0 && !platform::IsPathSeparator(path[end - 1])) --end;
  return end ? path.substr(0, end - 1) : std::string(".");
}

std::string Unquoted(std::string value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

using Values = std::map<std::string, std::string>;

void ReadFile(const std::string& path, Values* values, std::vector<std::string>* problems) {
  std::FILE* probe = platform::OpenFile(path, "rb");
  if (!probe) {
    if (errno != ENOENT && errno != ENOTDIR && problems) problems->push_back(path + ": cannot be read");
    return;
  }
  std::fclose(probe);
  std::optional<std::string> text = readWholeFile(path);
  if (!text) {
    if (problems) problems->push_back(path + ": cannot be read");
    return;
  }
  if (text->rfind("\xEF\xBB\xBF", 0) == 0) text->erase(0, 3);  // a byte order mark from a Windows editor
  size_t start = 0;
  for (int number = 1; start < text->size(); ++number) {
    size_t end = text->find('\n', start);
    if (end == std::string::npos) end = text->size();
    std::string line = TrimSpace(std::string_view(*text).substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == '#') continue;
    std::string where = path + ":" + std::to_string(number) + ": ";
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
      if (problems) problems->push_back(where + "not a setting (NAME=value): " + line);
      continue;
    }
    std::string name = TrimSpace(std::string_view(line).substr(0, eq));
    std::string value = Unquoted(TrimSpace(std::string_view(line).substr(eq + 1)));
    const Setting* setting = FindSetting(name);
    if (!setting) {
      if (problems)
        problems->push_back(where + (name == kInsecure ? name + " is read from the environment only"
                                                       : "unknown setting " + name));
      continue;
    }
    if (setting->is_path && !value.empty() && !platform::IsAbsolutePath(value))
      value = FolderOf(path) + "/" + value;
    (*values)[name] = value;
  }
}

}  // namespace

OperatorConfig ResolveOperatorConfig(const std::vector<std::string>& files, const EnvironmentLookup& environment,
                                     std::vector<std::string>* problems) {
  Values values = {
      {"QUIL_PROXY_URL", QUIL_DEFAULT_PROXY_URL},   {"QUIL_PROXY_PUBKEY", QUIL_DEFAULT_PROXY_PUBKEY},
      {"QUIL_PROXY_CA", QUIL_DEFAULT_PROXY_CA},     {"QUIL_BRIDGE_URL", QUIL_DEFAULT_BRIDGE_URL},
      {"QUIL_IP_SERVICES", QUIL_DEFAULT_IP_SERVICES},
  };
  for (const std::string& file : files)
    if (!file.empty()) ReadFile(file, &values, problems);
  // A variable that is set (even to "") wins.
  for (const Setting& s : kFileSettings)
    if (std::optional<std::string> v = environment(s.name)) values[s.name] = *v;

  OperatorConfig c;
  c.proxy_url = values["QUIL_PROXY_URL"];
  c.public_key = values["QUIL_PROXY_PUBKEY"];
  c.ca_bundle = values["QUIL_PROXY_CA"];
  c.tls_insecure = environment(kInsecure).value_or("") == "1";
  c.bridge_url = values["QUIL_BRIDGE_URL"];
  c.ip_services = SplitList(values["QUIL_IP_SERVICES"]);
  return c;
}

std::vector<std::string> OperatorConfigFiles() {
  return {QUIL_SYSTEM_CONFIG_FILE, platform::ConfigFolder() + "/quil.conf"};
}

namespace {
std::optional<std::string> ProcessEnvironment(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  if (!v) return std::nullopt;
  return std::string(v);
}
}  // namespace

OperatorConfig CurrentOperatorConfig() { return ResolveOperatorConfig(OperatorConfigFiles(), ProcessEnvironment); }

std::vector<std::string> OperatorConfigProblems() {
  std::vector<std::string> problems;
  ResolveOperatorConfig(OperatorConfigFiles(), ProcessEnvironment, &problems);
  return problems;
}

}  // namespace quil::proxy
