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
  auto& hive = platform::CurrentUserHive();
  if (hive.CreateKey(kLoginKey) != platform::kRegSuccess) return;
  hive.SetValue(kLoginKey, platform::RegSz("LoginType", info.type));
  hive.SetValue(kLoginKey, platform::RegSz("LoginValue", info.value));
  hive.SetValue(kLoginKey, platform::RegSz("Branch", info.branch));
}

LoginInfo getLoginInfo() { return {Read("LoginType"), Read("LoginValue"), Read("Branch")}; }

}  // namespace quil
