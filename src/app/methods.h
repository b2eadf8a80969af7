#pragma once
// Method bodies, grouped by the file that holds them. Each takes the
// arguments prepared by RunMethod (app/method_table.h) and returns the
// reply for its return kind.
#include "app/method_table.h"

namespace quil::methods {

// app/methods_shell.cc: methods that need nothing beyond the bridge.
MethodReply doTest(const MethodArgs& a);
MethodReply getClientVersion(const MethodArgs& a);
MethodReply openFileChooser(const MethodArgs& a);
MethodReply openFileChooser2(const MethodArgs& a);
MethodReply copyFile(const MethodArgs& a);
MethodReply openFileManager(const MethodArgs& a);
MethodReply openFileManager2(const MethodArgs& a);
MethodReply closeApp(const MethodArgs& a);
MethodReply openApp(const MethodArgs& a);
MethodReply getRandom(const MethodArgs& a);
MethodReply isFileExist(const MethodArgs& a);

// app/methods_session.cc: login session, account and branch methods.
MethodReply doLogin(const MethodArgs& a);
MethodReply doLogout(const MethodArgs& a);
MethodReply changePw(const MethodArgs& a);
MethodReply getOnlinePw(const MethodArgs& a);
MethodReply verifyOnlinePw(const MethodArgs& a);
MethodReply verifyPwBag(const MethodArgs& a);
MethodReply qryBranchInfo(const MethodArgs& a);
MethodReply qryBranchAll(const MethodArgs& a);
MethodReply iAmAlive(const MethodArgs& a);
MethodReply writeLog(const MethodArgs& a);
MethodReply writeLog2(const MethodArgs& a);
MethodReply versionCheck(const MethodArgs& a);
MethodReply getClientPfxFilePath(const MethodArgs& a);

// app/methods_cert.cc: the certificate's life and the certificate queries.
MethodReply getFnStatus(const MethodArgs& a);
MethodReply crtNewCert(const MethodArgs& a);
MethodReply crtNewCert2(const MethodArgs& a);
MethodReply savePfx2(const MethodArgs& a);
MethodReply replaceCert(const MethodArgs& a);
MethodReply replaceCert2(const MethodArgs& a);
MethodReply dlCert(const MethodArgs& a);
MethodReply crtRevokeCert(const MethodArgs& a);
MethodReply crtRevokeCert2(const MethodArgs& a);
MethodReply impUserCert(const MethodArgs& a);
MethodReply bakUserCert(const MethodArgs& a);
MethodReply changePfxPwd(const MethodArgs& a);
MethodReply changePfxPwd2(const MethodArgs& a);
MethodReply qrySvrCertInfo(const MethodArgs& a);
MethodReply qrySvrCertInfo2(const MethodArgs& a);
MethodReply qryClntCertInfo(const MethodArgs& a);  // also qryIECertInfo
MethodReply qryPfxCertInfo(const MethodArgs& a);

// app/methods_browsers.cc: the browser deployment.
MethodReply deployCert(const MethodArgs& a);
MethodReply rmvBrowserCert(const MethodArgs& a);

// app/methods_maintenance.cc: security component, registry settings,
// the remembered login.
MethodReply cpntAutoUpdate(const MethodArgs& a);
MethodReply getClientReg(const MethodArgs& a);
MethodReply setClientReg(const MethodArgs& a);
MethodReply setLoginInfo(const MethodArgs& a);
MethodReply getLoginInfo(const MethodArgs& a);

}  // namespace quil::methods
