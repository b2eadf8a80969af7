#include "app/host/demo_proxy.h"

#include <chrono>
#include <cstdlib>
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

constexpr char kPidVariable[] = "QUIL_DEMO_PROXY_PID";

// Its standard input ends when the last copy of quil does, however it ends.
std::vector<std::string> Arguments(const std::string& data) { return {"--data", data, "--end-with-stdin"}; }

}  // namespace

bool DemoProxy::Start(std::string* problem) {
  std::string data = platform::StateFolder() + "/demo";
  std::string handed_over = platform::GetEnv(kPidVariable);
  if (!handed_over.empty() && !platform::GetEnv("QUIL_PROXY_URL").empty()) {
    child_ = platform::TakeOverChildProcess(std::atoi(handed_over.c_str()), "quil-devproxy", Arguments(data));
    if (child_) {
      base_url_ = platform::GetEnv("QUIL_PROXY_URL");
      return true;
    }
  }
  std::string program = FindDevProxy();
  if (program.empty()) {
    *problem = "quil-devproxy not found next to quil or on PATH";
    return false;
  }
  platform::MakeFolders(data);
  child_ = platform::StartChildProcess(program, Arguments(data));
  if (!child_) {
    *problem = "cannot start " + program;
    return false;
  }
  base_url_ = child_->ReadLine(std::chrono::seconds(60));
  if (base_url_.empty()) {
    *problem = "the demo proxy did not report its address";
    return false;
  }
  platform::SetEnv(kPidVariable, std::to_string(child_->Id()));
  std::ifstream env(data + "/quil.env");
  std::string line;
  while (std::getline(env, line)) {
    size_t eq = line.find('=');
    if (line.rfind("QUIL_", 0) == 0 && eq != std::string::npos)
      platform::SetEnv(line.substr(0, eq), line.substr(eq + 1));
  }
  return true;
}

void DemoProxy::HandOver() {
  if (child_) child_->Release();
}

DemoProxy::DemoProxy() = default;
DemoProxy::~DemoProxy() = default;  // the child is stopped and waited for

}  // namespace quil::host
