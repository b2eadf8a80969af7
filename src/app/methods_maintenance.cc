// Methods of the client's own upkeep: the remembered login.
#include "app/methods.h"
#include "app/reply_format.h"
#include "maintenance/login_memory.h"
#include "platform/text_codec.h"

namespace quil::methods {

MethodReply setLoginInfo(const MethodArgs& a) {
  quil::setLoginInfo({platform::ToWide(a[0]), platform::ToWide(a[1]), platform::ToWide(a[2])});
  return {FormatReply(kReplyCodeOnly, 0), 0};
}

MethodReply getLoginInfo(const MethodArgs&) {
  LoginInfo info = quil::getLoginInfo();
  return {FormatReply(kReplyLoginInfo, 0, info.type.c_str(), info.value.c_str(), info.branch.c_str()), 0};
}

}  // namespace quil::methods
