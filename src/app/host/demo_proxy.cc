#include "app/host/demo_proxy.h"

#include <chrono>
#include <fstream>
#include <vector>

#include "platform/environment.h"
#include "platform/files.h"
#include "platform/process.h"

namespace quil::host {
namespace {

// Next to the quil program (installed or build tree), else on PATH.
std::string FindDevProxy() {
  std::string self = platform::ProgramPath();
  size_t slash = self.size();
  while (slash > 0 && !platform::IsPathSeparator(self[slash - 1])) --slash;
  std::string dir = self.substr(0, slash ? slash - 1 : 0);
  for (const std::string& candidate :
       {dir + "/quil-devproxy", dir + "/../devproxy/quil-devproxy", dir + "/../../devproxy/quil-devproxy"})
    if (platform::HasProgram(candidate)) return candidate;
  if (platform::HasProgram("quil-devproxy")) return "quil-devproxy";
  return {};
}

}  // namespace

bool DemoProxy::Start(std::string* problem) {
  std::string program = FindDevProxy();
  if (program.empty()) {
    *problem = "quil-devproxy not found next to quil or on PATH";
    return false;
  }
  std::string data = platform::StateFolder() + "/demo";
  platform::MakeFolders(data);
  child_ = platform::StartChildProcess(program, {"--data", data});
  if (!child_) {
    *problem = "cannot start " + program;
    return false;
  }
  base_url_ = child_->ReadLine(std::chrono::seconds(60));
  if (base_url_.empty()) {
    *problem = "the demo proxy did not report its address";
    return false;
  }
  std::ifstream env(data + "/quil.env");
  std::string line;
  while (std::getline(env, line)) {
    size_t eq = line.find('=');
    if (line.rfind("QUIL_", 0) == 0 && eq != std::string::npos)
      platform::SetEnv(line.substr(0, eq), line.substr(eq + 1));
  }
  return true;
}

DemoProxy::DemoProxy() = default;
DemoProxy::~DemoProxy() = default;  // the child is stopped and waited for

}  // namespace quil::host
