// Methods of the login session and account: login, logout, keep-alive,
// passwords and codes, branches, audit records, version check and the
// default PKCS#12 path.

#include "app/methods.h"
#include "app/reply_format.h"
#include "base/result_codes.h"
#include "base/settings.h"
#include "platform/files.h"
#include "platform/text_codec.h"
#include "proxy/actions.h"
#include "proxy/common_name.h"
#include "workflows/held_record.h"

namespace quil::methods {
namespace {

using platform::ToWide;

MethodReply Text(std::string text) { return MethodReply{std::move(text), 0}; }

// The reply for an operation that appends its map only on success.
MethodReply MapReply(const proxy::MapResult& r) {
  std::string fields = r.code == 0 ? ToWide(AppendMap(r.fields)) : std::string();
  return Text(FormatReply(kReplyMap, r.code, MakeErrorText(r.code).c_str(), fields.c_str()));
}

bool FileExists(const std::string& path) {
  return platform::GetPathInfo(path).kind != platform::PathKind::kMissing;
}

}  // namespace

MethodReply doLogin(const MethodArgs& a) {
  auto r = proxy::doLogin(a[0], a[1]);
  if (r.code == 0) workflows::ProposeHeldPfxFile(CommonNameFromIdno(FieldOf(r.result, "id")));
  return Text(FormatReply(kReplyLogin, r.code, MakeErrorText(r.code).c_str(), ToWide(AppendMap(r.result)).c_str(),
                          ToWide(r.extraMsg).c_str()));
}

MethodReply doLogout(const MethodArgs&) {
  MethodReply reply;
  reply.value = static_cast<std::int16_t>(proxy::doLogout());
  return reply;
}

MethodReply changePw(const MethodArgs& a) {
  auto r = proxy::changePw(a[0], a[1], a[2]);
  return Text(FormatReply(kReplyChangePw, r.code, MakeErrorText(r.code).c_str(), ToWide(r.extraMsg).c_str()));
}

MethodReply getOnlinePw(const MethodArgs& a) {
  auto r = proxy::getOnlinePw(a[0], a[1], a[2], a[3], a[4], a[5]);
  return Text(FormatReply(kReplyOnlinePw, r.code, MakeErrorText(r.code).c_str(), ToWide(r.onlinepw).c_str(),
                          ToWide(r.createtime).c_str(), ToWide(r.rtnCode).c_str(), ToWide(r.rtnMsg).c_str()));
}

MethodReply verifyOnlinePw(const MethodArgs& a) {
  auto r = proxy::verifyOnlinePw(a[0], a[1], a[2], a[3]);
  return Text(FormatReply(kReplyVerifyOnlinePw, r.code, MakeErrorText(r.code).c_str(), ToWide(r.rtnCode).c_str(),
                          ToWide(r.rtnMsg).c_str(), ToWide(r.pwid).c_str()));
}

MethodReply verifyPwBag(const MethodArgs& a) {
  auto r = proxy::verifyPwBag(a[0], a[1], a[2]);
  return Text(FormatReply(kReplyVerifyPwBag, r.code, MakeErrorText(r.code).c_str(), ToWide(r.rtnCode).c_str(),
                          ToWide(r.rtnMsg).c_str()));
}

MethodReply qryBranchInfo(const MethodArgs& a) { return MapReply(proxy::qryBranch(a[0])); }

MethodReply qryBranchAll(const MethodArgs&) { return MapReply(proxy::qryBranchAll()); }

MethodReply iAmAlive(const MethodArgs&) {
  proxy::iAmAlive();
  return {};
}

MethodReply writeLog(const MethodArgs& a) {
  proxy::writeLog(a[0], a[1], a[2], a[3]);
  return {};
}

MethodReply writeLog2(const MethodArgs& a) {
  proxy::writeLog2(a[0], a[1], a[2], a[3]);
  return {};
}

MethodReply versionCheck(const MethodArgs&) {
  auto v = proxy::checkVersion();
  return Text(FormatReply(kReplyVersionCheck, v.code, MakeErrorText(v.code).c_str(), ToWide(v.notice).c_str(),
                          ToWide(v.available).c_str(), ToWide(v.generalReportText).c_str(),
                          ToWide(v.isShowReportText).c_str(), ToWide(v.generalReportLink).c_str(),
                          ToWide(v.isShowReportLink).c_str(), ToWide(v.width).c_str(), ToWide(v.height).c_str()));
}

MethodReply getClientPfxFilePath(const MethodArgs&) {
  // Doubled while narrow: a double-byte character may end in the backslash byte.
  std::string path = getSetting("env.userPfxFilePath");
  return Text(FormatReply(kReplyPfxFilePath, 0, "", ToWide(DoubleBackslashes(path)).c_str(),
                          FileExists(ToWide(path)) ? "Y" : "N"));
}

}  // namespace quil::methods
