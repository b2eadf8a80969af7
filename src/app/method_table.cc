#include "app/method_table.h"

#include "app/methods.h"
#include "app/reply_format.h"
#include "base/result_codes.h"
#include "platform/text_codec.h"
#include "proxy/common_name.h"

namespace quil {
namespace {

using R = Returns;
namespace m = methods;

// Order is the page-facing order (dispatch ids follow it).
const std::vector<MethodEntry> kTable = {
    {"cpntAutoUpdate", 0, R::kNothing, kNoFlags, m::cpntAutoUpdate},
    {"doTest", 1, R::kNothing, kNoFlags, m::doTest},
    {"iAmAlive", 0, R::kNothing, kNoFlags, m::iAmAlive},
    {"getClientPfxFilePath", 0, R::kText, kNoFlags, m::getClientPfxFilePath},
    {"getClientVersion", 0, R::kText, kNoFlags, m::getClientVersion},
    {"getClientReg", 0, R::kText, kNoFlags, m::getClientReg},
    {"setClientReg", 0, R::kText, kNoFlags, m::setClientReg},
    {"doLogin", 2, R::kText, kNoFlags, m::doLogin},
    {"getOnlinePw", 6, R::kText, kNoFlags, m::getOnlinePw},
    {"changePw", 3, R::kText, kNoFlags, m::changePw},
    {"savePfx2", 4, R::kText, kNoFlags, m::savePfx2},
    {"verifyOnlinePw", 4, R::kText, kNoFlags, m::verifyOnlinePw},
    {"verifyPwBag", 3, R::kText, kNoFlags, m::verifyPwBag},
    {"doLogout", 1, R::kShort, kNoFlags, m::doLogout},
    {"getFnStatus", 1, R::kText, kCnFromIdno, m::getFnStatus},
    // The terms come before the common name: declining contacts no proxy
    // (also replaceCert).
    {"crtNewCert", 1, R::kText, kNoFlags, m::crtNewCert},
    {"crtNewCert2", 2, R::kText, kCnFromIdno, m::crtNewCert2},
    {"crtRevokeCert", 1, R::kText, kCnFromIdno, m::crtRevokeCert},
    {"crtRevokeCert2", 2, R::kText, kCnFromIdno, m::crtRevokeCert2},
    {"openFileChooser", 0, R::kText, kNoFlags, m::openFileChooser},
    {"openFileChooser2", 0, R::kText, kNoFlags, m::openFileChooser2},
    {"replaceCert", 1, R::kText, kNoFlags, m::replaceCert},
    {"replaceCert2", 3, R::kText, kCnFromIdno, m::replaceCert2},
    {"dlCert", 1, R::kText, kCnFromIdno, m::dlCert},
    {"qryBranchInfo", 1, R::kText, kNoFlags, m::qryBranchInfo},
    {"qryBranchAll", 0, R::kText, kNoFlags, m::qryBranchAll},
    {"qrySvrCertInfo", 1, R::kText, kNoFlags, m::qrySvrCertInfo},
    {"qrySvrCertInfo2", 1, R::kText, kNoFlags, m::qrySvrCertInfo2},
    {"qryClntCertInfo", 1, R::kText, kNoFlags, m::qryClntCertInfo},
    {"qryPfxCertInfo", 3, R::kText, kNoFlags, m::qryPfxCertInfo},
    {"qryIECertInfo", 1, R::kText, kNoFlags, m::qryClntCertInfo},
    {"copyFile", 2, R::kText, kWideArgs, m::copyFile},
    {"impUserCert", 1, R::kText, kNoFlags, m::impUserCert},
    {"bakUserCert", 1, R::kText, kNoFlags, m::bakUserCert},
    {"changePfxPwd", 1, R::kText, kNoFlags, m::changePfxPwd},
    {"changePfxPwd2", 4, R::kText, kNoFlags, m::changePfxPwd2},
    {"deployCert", 4, R::kText, kNoFlags, m::deployCert},
    {"rmvBrowserCert", 2, R::kText, kNoFlags, m::rmvBrowserCert},
    {"openFileManager", 1, R::kNothing, kNoFlags, m::openFileManager},
    {"openFileManager2", 1, R::kNothing, kNoFlags, m::openFileManager2},
    {"closeApp", 0, R::kNothing, kNoFlags, m::closeApp},
    {"openApp", 0, R::kNothing, kNoFlags, m::openApp},
    {"getRandom", 0, R::kText, kNoFlags, m::getRandom},
    {"versionCheck", 0, R::kText, kNoFlags, m::versionCheck},
    {"writeLog", 4, R::kNothing, kNoFlags, m::writeLog},
    {"writeLog2", 4, R::kNothing, kNoFlags, m::writeLog2},
    {"setLoginInfo", 3, R::kText, kNoFlags, m::setLoginInfo},
    {"getLoginInfo", 0, R::kText, kNoFlags, m::getLoginInfo},
    {"isFileExist", 1, R::kText, kNoFlags, m::isFileExist},
};

}  // namespace

const std::vector<MethodEntry>& MethodTable() { return kTable; }

const MethodEntry* FindMethod(std::string_view name) {
  for (const auto& e : kTable)
    if (name == e.name) return &e;
  return nullptr;
}

MethodReply UnavailableMethodReply(const MethodEntry& method) {
  MethodReply reply;
  if (method.returns == Returns::kText) reply.text = PlainReply(kFailed);
  if (method.returns == Returns::kShort) reply.value = kFailed;
  return reply;
}

MethodReply RunMethod(const MethodEntry& method, const std::vector<std::string>& wide_args) {
  if (!method.body) return UnavailableMethodReply(method);
  try {
    MethodArgs args;
    args.reserve(wide_args.size());
    for (const auto& a : wide_args)
      args.push_back((method.flags & kWideArgs) ? a : platform::ToNarrow(a));
    if ((method.flags & kCnFromIdno) && !args.empty()) args[0] = CommonNameFromIdno(args[0]);
    return method.body(args);
  } catch (...) {
    return UnavailableMethodReply(method);
  }
}

}  // namespace quil
