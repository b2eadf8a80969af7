#include "maintenance/login_memory.h"

#include "platform/registry.h"

namespace quil {
namespace {

constexpr const char kLoginKey[] = "Software\\MERO\\QUIL\\PELISecuritiesLoginInfo";

std::string Read(const char* name) {
  auto v = platform::CurrentUserHive().QueryValue(kLoginKey, name);
  return v ? v->data : std::string();
}

}  // namespace

void setLoginInfo(const LoginInfo& info) {
  // One write: a login read back always has its three parts from one call.
  (void)platform::CurrentUserHive().SetValues(
      kLoginKey, {platform::RegSz("LoginType", info.type), platform::RegSz("LoginValue", info.value),
                  platform::RegSz("Branch", info.branch)});
}

LoginInfo getLoginInfo() { return {Read("LoginType"), Read("LoginValue"), Read("Branch")}; }

}  // namespace quil
