// crtRevokeCert and crtRevokeCert2 against the demo proxy: the proxy's
// verdict travels in rvkCode and rvkMsg; on this computer only the record of
// the held certificate learns of an accepted revocation.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "base/result_codes.h"
#include "cert/held_certificate.h"
#include "demo_bench.h"
#include "lifecycle_test_util.h"
#include "platform/cert_store.h"
#include "platform/environment.h"

namespace quil::testing {
namespace {

// Every file under the test home (the key folder, the certificate file,
// the stores) with its bytes; the hive is looked at on its own.
std::map<std::string, std::string> FilesUnder(const std::string& root) {
  std::map<std::string, std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root))
    if (e.is_regular_file() && e.path().filename().string().rfind("registry.db", 0) != 0)
      out[e.path().string()] = ReadFileForTest(e.path().string());
  return out;
}

// The held certificate of `cn`, as its record stands.
HeldCertificate HeldFor(const std::string& cn) {
  for (const auto& held : HeldCertificates())
    if (held.cn == cn) return held;
  return {};
}

// The pwid of a verified online code for revocation.
std::string RevocationCode(DemoSession& s) {
  const Customer& c = s.customer;
  auto asked = ReplyFields(s.Call("getOnlinePw", {c.idno, c.aid, "0", "", "19800101", "revoke"}));
  EXPECT_EQ(asked["rtnCode"], "0") << asked["rtnMsg"];
  std::string code;
  for (const auto& m : s.proxy().Mailbox())
    if (m.idno == c.idno) code = m.code;
  auto verified = ReplyFields(s.Call("verifyOnlinePw", {c.idno, c.aid, code, "revoke"}));
  EXPECT_EQ(verified["rtnCode"], "0") << verified["rtnMsg"];
  return verified["pwid"];
}

TEST(Revoke, ProxyVerdictIsTheReplyAndOnlyTheHeldRecordLearnsOfIt) {
  DemoSession s("pfx,store");
  ASSERT_TRUE(s.logged_in);
  const std::string path = s.home.path() + "/certs/mine.P12";
  HoldCertificateInFile(s, path, "abc123");
  const std::string pwid = RevocationCode(s);
  s.ClearUi();
  s.bench().ClearCalls();
  auto before = FilesUnder(s.home.path());
  const HeldCertificate held = HeldFor(s.customer.cn);
  ASSERT_EQ(held.revoked, "");
  ASSERT_FALSE(platform::OpenSystemStore("MY")->Certificates().empty());

  EXPECT_EQ(s.Call("crtRevokeCert2", {s.customer.idno, pwid}),
            "{'errCode':'0','errMsg':'','rvkCode':'0','rvkMsg':'憑證註銷成功'}");
  auto sent = s.bench().CallsOf("revokeCert");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].Field("cn"), s.customer.cn);
  EXPECT_EQ(sent[0].Field("pwid"), pwid);
  EXPECT_EQ(s.LatestCert().state, "31");
  EXPECT_EQ(s.proxy().FnStatus(s.customer.idno), "10000") << "the customer may apply again";
  EXPECT_TRUE(s.ui->progress.empty());
  EXPECT_TRUE(s.ui->dialogs.empty());
  EXPECT_TRUE(s.ui->messages.empty());
  EXPECT_EQ(FilesUnder(s.home.path()), before) << "files, keys and stores are as they were";
  const HeldCertificate after = HeldFor(s.customer.cn);
  EXPECT_EQ(after.revoked.size(), 14u) << "the held certificate no longer signs";
  EXPECT_EQ(after.serial, held.serial);
  EXPECT_EQ(after.where.path, held.where.path);
  EXPECT_TRUE(Pkcs12Opens(path, "abc123"));

  // A refusal is the proxy's verdict too: the exchange itself succeeded.
  EXPECT_EQ(s.Call("crtRevokeCert", {s.customer.idno}),
            "{'errCode':'0','errMsg':'','rvkCode':'2301','rvkMsg':'目前沒有可註銷的憑證'}");
  EXPECT_FALSE(s.bench().CallsOf("revokeCert").back().Has("pwid"));

  // The revoked certificate cannot be renewed; the revocation's code
  // starts the next application.
  auto renewal = ReplyFields(s.Call("replaceCert2", {s.customer.idno, path, "abc123"}));
  EXPECT_EQ(renewal["errCode"], std::to_string(kRenewFileNotAllowed));
  auto applied = ReplyFields(s.Call("crtNewCert2", {s.customer.idno, pwid}));
  EXPECT_EQ(applied["errCode"], "0") << applied["errMsg"];
}

TEST(Revoke, FailedExchangesCarryTheirCodeAndNoVerdict) {
  struct Case {
    const char* fault;
    int code;
  } kCases[] = {
      {"status:500", kRevokeCallFailed},
      {"malformed", kRevokeReplyUnreadable},
      {"noroot", kRevokeReplyUnreadable},
  };
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.fault);
    Fault(s, "revokeCert", c.fault);
    EXPECT_EQ(s.Call("crtRevokeCert2", {s.customer.idno, "ABC"}), "{'errCode':'" + std::to_string(c.code) +
                                                                       "','errMsg':'" + MakeErrorText(c.code) + "'}");
    EXPECT_EQ(s.Call("crtRevokeCert", {s.customer.idno}), PlainReplyFor(c.code));
  }
}

}  // namespace
}  // namespace quil::testing
