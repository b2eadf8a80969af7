// The project's own client of the protocol (quil_proxy) against the demo
// proxy: the same path the program takes, from login to logout.
#include <gtest/gtest.h>

#include "base/pause.h"
#include "base/result_codes.h"
#include "base/settings.h"
#include "proxy/actions.h"
#include "proxy/envelope.h"
#include "proxy/settings_loader.h"
#include "support/test_env.h"
#include "test_client.h"
#include "ui/progress_window.h"
#include "ui/scripted_ui.h"

namespace quil::devproxy::testing {
namespace {

struct ClientScope {
  quil::testing::ScopedTestHome home;
  ui::ScopedScriptedUi ui;
  explicit ClientScope(const DevProxy& proxy) {
    proxy.ExportEnvironment();
    SetPauseForTesting([](Milliseconds) {});
    proxy::InstallSettingsLoader();
    ResetSettingsForTesting();
    proxy::SetSessionKey("");
  }
  ~ClientScope() {
    ResetSettingsForTesting();
    proxy::SetSessionKey("");
  }
};

TEST(DevProxyWithClientLibrary, LoginApplyInstallQueryLogout) {
  DevProxy& proxy = SharedProxy();
  ClientScope scope(proxy);
  CustomerSeed c = UniqueCustomer(proxy);

  proxy::LoginResult refused = proxy::doLogin(c.aid, "wrong999");
  EXPECT_EQ(refused.code, kLoginRefused);
  EXPECT_EQ(FieldOf(refused.result, "rtnCode"), "1001");

  proxy::LoginResult login = proxy::doLogin(c.aid, c.password);
  ASSERT_EQ(login.code, 0);
  EXPECT_EQ(FieldOf(login.result, "id"), c.idno);
  EXPECT_EQ(proxy::sessionKey(), FieldOf(login.result, "aeskey"));
  EXPECT_EQ(getSetting("cert.expType"), "pfx") << "the login loaded the settings";
  EXPECT_EQ(getSetting("userIdno"), c.idno);

  std::string cn = proxy::getCn(c.idno);
  EXPECT_EQ(cn, c.idno + "-01");
  proxy::FnStatus fn = proxy::getFnStatus(cn);
  EXPECT_EQ(fn.code, 0);
  EXPECT_EQ(fn.fnStatus, "10000");

  Request req = MakeRequest(cn);
  proxy::CertReply applied = proxy::applyCert(req.csr, c.idno);
  ASSERT_EQ(applied.code, 0);
  EXPECT_GT(applied.certId, 0);
  EXPECT_EQ(CertCn(UserCertDer(applied.cert)), cn);
  EXPECT_EQ(FieldOf(applied.certInfo, "cn"), cn);
  EXPECT_EQ(proxy::activeCert(applied.certId, "/tmp/x.P12"), 0);

  proxy::Cert2Result q = proxy::qryCert2(cn);
  EXPECT_EQ(q.code, 0);
  EXPECT_EQ(FieldOf(q.pcCert, "serial"), FieldOf(applied.certInfo, "serial"));
  EXPECT_EQ(FieldOf(q.pcCert, "actFlg"), "Y");
  FieldMap last = proxy::qryLastActiveCert(cn);
  EXPECT_EQ(FieldOf(last, "issuer"), "CN=QUIL Demo Issuing CA, O=QUIL Demo CA, C=TW");
  proxy::CertReply dl = proxy::dlCert(cn);
  EXPECT_EQ(dl.code, 0);
  EXPECT_EQ(dl.cert, applied.cert);

  proxy::ProxyAnswer bag = proxy::verifyPwBag(c.idno, c.aid, "QW12ER");
  EXPECT_EQ(bag.code, 0);
  proxy::writeLog(c.idno, c.aid, "3", "3000");
  EXPECT_EQ(proxy.AuditRecords().back().memo, "3000");
  proxy::MapResult revoked = proxy::revokeCert(cn);
  EXPECT_EQ(revoked.code, 0);
  EXPECT_EQ(FieldOf(revoked.fields, "rvkCode"), "0");

  EXPECT_EQ(proxy::doLogout(), 0);
  EXPECT_EQ(proxy::sessionKey(), "");
}

TEST(DevProxyWithClientLibrary, InjectedFaultsGiveTheClientsCodes) {
  Options o = TestOptions("client-faults");
  auto proxy = DevProxy::Start(o, nullptr);
  ASSERT_TRUE(proxy);
  ClientScope scope(*proxy);
  struct Case {
    const char* name;
    const char* fault_text;
    int code;
  } kCases[] = {
      {"accepted", "delay:10", 0},
      {"refused", "rtn:9", kVersionMismatch},
      {"malformed", "malformed", kVersionReplyUnreadable},
      {"no root", "noroot", kVersionNoRoot},
      {"status", "status:500", kVersionCallFailed},
      {"empty", "empty", kVersionCallFailed},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    proxy->SetFault("checkVersion", *ParseFault(c.fault_text));
    EXPECT_EQ(proxy::checkVersion().code, c.code);
  }
}

// One run's exchanges share a connection; a lost answer on it is a lost
// answer, never a second request the server would act on again.
TEST(DevProxyWithClientLibrary, OneRunKeepsItsConnectionAndNeverSendsARequestTwice) {
  Options o = TestOptions("client-kept");
  auto proxy = DevProxy::Start(o, nullptr);
  ASSERT_TRUE(proxy);
  ClientScope scope(*proxy);
  CustomerSeed c = UniqueCustomer(*proxy);
  auto logged = [&](const std::string& memo) {
    int n = 0;
    for (const AuditRecord& r : proxy->AuditRecords()) n += r.memo == memo;
    return n;
  };

  ASSERT_EQ(proxy::checkVersion().code, 0);
  ASSERT_EQ(proxy::doLogin(c.aid, c.password).code, 0);
  proxy::writeLog(c.idno, c.aid, "3", "kept");
  EXPECT_EQ(logged("kept"), 1);
  EXPECT_EQ(proxy->Handshakes().full, 1);
  EXPECT_EQ(proxy->Handshakes().resumed, 0);

  proxy->SetFault("writeLog", *ParseFault("lost,times:1"));
  proxy::writeLog(c.idno, c.aid, "3", "lost");
  EXPECT_EQ(logged("lost"), 1);
  ASSERT_EQ(scope.ui->messages.size(), 1u);
  EXPECT_NE(scope.ui->messages[0].find("網路連線發生錯誤"), std::string::npos) << scope.ui->messages[0];

  // The next exchange connects again and resumes the session.
  proxy::writeLog(c.idno, c.aid, "3", "after");
  EXPECT_EQ(logged("after"), 1);
  EXPECT_EQ(proxy->Handshakes().full, 1);
  EXPECT_EQ(proxy->Handshakes().resumed, 1);
  EXPECT_EQ(scope.ui->messages.size(), 1u);
}

}  // namespace
}  // namespace quil::devproxy::testing
