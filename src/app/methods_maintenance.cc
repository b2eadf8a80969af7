// Methods of the client's own upkeep: the security component, the
// operator's registry settings and the remembered login.
#include "app/methods.h"
#include "app/reply_format.h"
#include "maintenance/login_memory.h"
#include "maintenance/registry_settings.h"
#include "maintenance/security_component.h"
#include "platform/text_codec.h"

namespace quil::methods {

MethodReply cpntAutoUpdate(const MethodArgs&) {
  quil::cpntAutoUpdate();
  return {};
}

MethodReply getClientReg(const MethodArgs&) {
  ClientRegCheck check = quil::getClientReg();
  std::string entries = check.code == kOk ? platform::ToWide(AppendMap(check.entries)) : std::string();
  return {FormatReply(kReplyMap, check.code, "", entries.c_str()), 0};
}

MethodReply setClientReg(const MethodArgs&) { return {FormatReply(kReplyCodeOnly, quil::setClientReg()), 0}; }

MethodReply setLoginInfo(const MethodArgs& a) {
  quil::setLoginInfo({a[0], a[1], a[2]});
  return {FormatReply(kReplyCodeOnly, 0), 0};
}

MethodReply getLoginInfo(const MethodArgs&) {
  LoginInfo info = quil::getLoginInfo();
  return {FormatReply(kReplyLoginInfo, 0, platform::ToWide(info.type).c_str(), platform::ToWide(info.value).c_str(),
                      platform::ToWide(info.branch).c_str()),
          0};
}

}  // namespace quil::methods
