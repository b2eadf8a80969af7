#include "maintenance/login_memory.h"

#include "platform/registry.h"
#include "platform/text_codec.h"

namespace quil {
namespace {

constexpr const char kLoginKey[] = "Software\\MERO\\QUIL\\PELISecuritiesLoginInfo";

std::string Read(const char* name) {
  auto v = platform::CurrentUserHive().QueryValue(kLoginKey, name);
  return v ? platform::ToNarrow(v->data) : std::string();
}

}  // namespace

void setLoginInfo(const LoginInfo& info) {
  // One write: a login read back always has its three parts from one call.
  (void)platform::CurrentUserHive().SetValues(
      kLoginKey, {platform::RegSz("LoginType", platform::ToWide(info.type)),
                  platform::RegSz("LoginValue", platform::ToWide(info.value)),
                  platform::RegSz("Branch", platform::ToWide(info.branch))});
}

LoginInfo getLoginInfo() { return {Read("LoginType"), Read("LoginValue"), Read("Branch")}; }

}  // namespace quil
