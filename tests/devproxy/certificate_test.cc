// Certificate issuance and the function status state machine, walked as
// the client walks it: application, continuation, installation, renewal
// with its signature, download, revocation.
#include <gtest/gtest.h>

#include "base/base64.h"
#include "test_client.h"

namespace quil::devproxy::testing {
namespace {

struct Customer {
  CustomerSeed seed;
  std::string key, cn;
};

Customer LoggedIn(DevProxy& proxy, const TestClient& client) {
  Customer c;
  c.seed = UniqueCustomer(proxy);
  c.key = client.Login(c.seed.aid, c.seed.password);
  c.cn = c.seed.idno + "-01";
  return c;
}

std::string Fn(const TestClient& client, const Customer& c, Reply* out = nullptr) {
  Reply r = client.Aes("getFnStatus", {{"cn", c.cn}}, c.key);
  EXPECT_EQ(r["rtnCode"], "0");
  if (out) *out = r;
  return r["fnStatus"];
}

bool AllDigits(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

TEST(DevProxyCertificates, ApplicationIssuesAVerifiableChain) {
  DevProxy& proxy = SharedProxy();
  TestClient client(proxy);
  Customer c = LoggedIn(proxy, client);
  Reply st;
  EXPECT_EQ(Fn(client, c, &st), "10000");
  EXPECT_EQ(st["certCount"], "0");

  Request req = MakeRequest(c.cn);
  Reply r = client.Aes("applyCert", {{"csr", req.csr}, {"userId", c.seed.idno}}, c.key);
  ASSERT_EQ(r["rtnCode"], "0") << r["rtnMsg"];
  const Fields& info = r.blocks["certInfo"];
  EXPECT_TRUE(AllDigits(info.at("certId")));
  std::vector<std::string> pems;
  std::string der = UserCertDer(r["cert"], &pems);
  EXPECT_EQ(pems.size(), 3u) << "root, intermediate and user certificate";
  EXPECT_EQ(CertCn(der), c.cn);
  EXPECT_EQ(CertPublicKeyPem(der), PublicKeyPem(req.key.get())) << "the request's own key";
  EXPECT_NE(OpenSslVerify(proxy, r["cert"]).find(": OK"), std::string::npos)
      << OpenSslVerify(proxy, r["cert"]);
  // The record's texts are in the client's forms.
  EXPECT_EQ(info.at("cn"), c.cn);
  EXPECT_EQ(info.at("certUserId"), c.seed.idno);
  EXPECT_EQ(info.at("serial").find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_NE(info.at("serial")[0], '0');
  EXPECT_EQ(info.at("notBefore").size(), 14u);
  EXPECT_TRUE(AllDigits(info.at("notAfter")));
  EXPECT_EQ(info.at("issuer"), "CN=QUIL Demo Issuing CA, O=QUIL Demo CA, C=TW");
  EXPECT_EQ(info.at("subject"), "CN=" + c.cn + ", OU=PELI Securities, O=QUIL Demo CA, C=TW");
  EXPECT_EQ(info.at("certHash"), HexUpper(Sha1(der)));
  EXPECT_EQ(info.at("state"), "10");
  EXPECT_EQ(info.at("actFlg"), "N");
}

TEST(DevProxyCertificates, WindowsStoreRequestWithABmpStringName) {
  DevProxy& proxy = SharedProxy();
  TestClient client(proxy);
  Customer c = LoggedIn(proxy, client);
  Reply r = client.Aes("applyCert", {{"csr", MakeRequest(c.cn, 2048, true).csr}, {"userId", c.seed.idno}}, c.key);
  ASSERT_EQ(r["rtnCode"], "0") << r["rtnMsg"];
  EXPECT_EQ(CertCn(UserCertDer(r["cert"])), c.cn);
}

TEST(DevProxyCertificates, RequestsThatAreRefused) {
  DevProxy& proxy = SharedProxy();
  TestClient client(proxy);
  Customer c = LoggedIn(proxy, client);
  Request good = MakeRequest(c.cn);
  std::string tampered = base64Decode(good.csr);
  tampered[tampered.size() - 5] ^= 0x55;  // inside the signature
  struct Case {
    const char* name;
    std::string csr, user_id;
    const char* rtn_code;
  } kCases[] = {
      {"no request", "", c.seed.idno, "2002"},
      {"not base64", "@@@@", c.seed.idno, "2003"},
      {"not a request", base64Encode("hello world"), c.seed.idno, "2003"},
      {"bad signature", base64Encode(tampered), c.seed.idno, "2003"},
      {"small key", MakeRequest(c.cn, 1024).csr, c.seed.idno, "2003"},
      {"someone else's cn", MakeRequest("A123456789-01").csr, c.seed.idno, "2004"},
      {"someone else's identity", good.csr, "A123456789", "9002"},
  };
  for (const auto& k : kCases) {
    SCOPED_TRACE(k.name);
    Reply r = client.Aes("applyCert", {{"csr", k.csr}, {"userId", k.user_id}}, c.key);
    EXPECT_EQ(r["rtnCode"], k.rtn_code) << r["rtnMsg"];
    EXPECT_EQ(r.fields.count("cert"), 0u);
  }
  EXPECT_EQ(Fn(client, c), "10000") << "nothing was issued";
  EXPECT_TRUE(proxy.Certificates(c.seed.idno).empty());
}

TEST(DevProxyCertificates, WholeLifeOfACertificate) {
  DevProxy& proxy = SharedProxy();
  TestClient client(proxy);
  Customer c = LoggedIn(proxy, client);
  Request req = MakeRequest(c.cn);
  Reply applied = client.Aes("applyCert", {{"csr", req.csr}, {"userId", c.seed.idno}}, c.key);
  ASSERT_EQ(applied["rtnCode"], "0");
  std::string cert_id = applied.blocks["certInfo"]["certId"];

  // The reply was "lost": the status says continue, and a call without a
  // request hands back the same certificate.
  EXPECT_EQ(Fn(client, c), "20001");
  Reply again = client.Aes("applyCert", {{"csr", ""}, {"userId", c.seed.idno}}, c.key);
  EXPECT_EQ(again["rtnCode"], "0");
  EXPECT_EQ(again["cert"], applied["cert"]);
  EXPECT_EQ(again.blocks["certInfo"]["certId"], cert_id);
  Reply dl = client.Aes("dlCert", {{"cn", c.cn}}, c.key);
  EXPECT_EQ(dl["cert"], applied["cert"]);

  EXPECT_EQ(client.Aes("activeCert", {{"certApplyId", "999999"}, {"certPath", ""}}, c.key)["rtnCode"], "2401");
  EXPECT_EQ(client.Aes("activeCert", {{"certApplyId", cert_id}, {"certPath", "/home/u/QUIL/c.P12"}}, c.key)["rtnCode"], "0");
  Reply st;
  EXPECT_EQ(Fn(client, c, &st), "00111");
  EXPECT_EQ(st["certCount"], "1");
  EXPECT_EQ(st["effectCertCount"], "1");
  Reply again2 = client.Aes("applyCert", {{"csr", MakeRequest(c.cn).csr}, {"userId", c.seed.idno}}, c.key);
  EXPECT_EQ(again2["rtnCode"], "2001") << "one valid certificate at a time";

  Reply last = client.Aes("qryLastActiveCert", {{"cn", c.cn}}, c.key);
  std::string old_serial = last["serial"];
  EXPECT_EQ(last["actFlg"], "Y");
  EXPECT_EQ(last["state"], "0");
  Reply q2 = client.Aes("qryCert2", {{"cn", c.cn}}, c.key);
  EXPECT_EQ(q2.blocks["pcCert"]["serial"], old_serial);
  EXPECT_TRUE(q2.mobile.empty());
  EXPECT_EQ(client.Aes("qryCert", {{"cn", c.cn}}, c.key)["serial"], old_serial);
  EXPECT_EQ(client.Aes("qryCert", {{"cn", "A123456789-01"}}, c.key)["rtnCode"], "9002");

  // Not yet inside the renewal window.
  std::string old_der = UserCertDer(applied["cert"]);
  Request renew = MakeRequest(c.cn);
  Reply early = client.Aes("renewCert", {{"csr", renew.csr}, {"hexSerial", old_serial},
                                         {"sign", SignText(req.key.get(), old_der, renew.csr)}}, c.key);
  EXPECT_EQ(early["rtnCode"], "2101");

  // Near its end the status offers renewal.
  ASSERT_TRUE(proxy.SetCertExpiryForTesting(c.seed.idno, 10));
  EXPECT_EQ(Fn(client, c), "01111");
  std::string sign = SignText(req.key.get(), old_der, renew.csr);
  Request stranger = MakeRequest(c.cn);
  struct Case {
    const char* name;
    Fields fields;
    const char* rtn_code;
  } kCases[] = {
      {"wrong serial", {{"csr", renew.csr}, {"hexSerial", "1234"}, {"sign", sign}}, "2103"},
      {"no signature", {{"csr", renew.csr}, {"hexSerial", old_serial}, {"sign", ""}}, "2104"},
      {"signature over another text",
       {{"csr", renew.csr}, {"hexSerial", old_serial}, {"sign", SignText(req.key.get(), old_der, "x")}}, "2105"},
      {"signature by another key",
       {{"csr", renew.csr}, {"hexSerial", old_serial}, {"sign", SignText(stranger.key.get(), old_der, renew.csr)}}, "2105"},
      {"garbage signature", {{"csr", renew.csr}, {"hexSerial", old_serial}, {"sign", "AAAA"}}, "2105"},
  };
  for (const auto& k : kCases) {
    SCOPED_TRACE(k.name);
    EXPECT_EQ(client.Aes("renewCert", k.fields, c.key)["rtnCode"], k.rtn_code);
  }
  Reply renewed = client.Aes("renewCert", {{"csr", renew.csr}, {"hexSerial", old_serial}, {"sign", sign}}, c.key);
  ASSERT_EQ(renewed["rtnCode"], "0") << renewed["rtnMsg"];
  EXPECT_NE(renewed.blocks["certInfo"]["serial"], old_serial);
  EXPECT_EQ(Fn(client, c), "02111") << "renewal continuation";
  Reply cont = client.Aes("renewCert", {{"csr", ""}, {"hexSerial", old_serial}, {"sign", ""}}, c.key);
  EXPECT_EQ(cont["cert"], renewed["cert"]);
  EXPECT_EQ(client.Aes("activeCert", {{"certApplyId", renewed.blocks["certInfo"]["certId"]}, {"certPath", ""}}, c.key)["rtnCode"], "0");
  EXPECT_EQ(Fn(client, c), "00111");
  auto certs = proxy.Certificates(c.seed.idno);
  ASSERT_EQ(certs.size(), 2u);
  EXPECT_EQ(certs[1].state, "13") << "the old certificate is replaced";
  last = client.Aes("qryLastActiveCert", {{"cn", c.cn}}, c.key);
  EXPECT_EQ(last["serial"], renewed.blocks["certInfo"]["serial"]);

  // PKCS#12 password change proof: "qmrd5170" signed with the current key.
  std::string new_der = UserCertDer(renewed["cert"]);
  EXPECT_EQ(client.Aes("changePfxPwVerifyP7", {{"sign", SignText(renew.key.get(), new_der, "qmrd5170")}}, c.key)["rtnCode"], "0");
  EXPECT_EQ(client.Aes("changePfxPwVerifyP7", {{"sign", SignText(req.key.get(), old_der, "qmrd5170")}}, c.key)["rtnCode"], "2502");
  EXPECT_EQ(client.Aes("changePfxPwVerifyP7", {{"sign", SignText(renew.key.get(), new_der, "qmrd5171")}}, c.key)["rtnCode"], "2502");

  // Revocation with an online code; its pwid then starts a new application.
  Reply code_req = client.Aes("getOnlinePw", {{"id", c.seed.idno}, {"aid", c.seed.aid}, {"notifyType", "0"},
                                              {"notifyAddr", c.seed.email}, {"birthday", c.seed.birthday},
                                              {"applyType", "revoke"}}, c.key);
  ASSERT_EQ(code_req["rtnCode"], "0");
  Reply verified = client.Aes("verifyOnlinePw", {{"id", c.seed.idno}, {"aid", c.seed.aid},
                                                 {"pw", proxy.Mailbox().back().code}, {"applyType", "revoke"}}, c.key);
  std::string pwid = verified["pwid"];
  ASSERT_FALSE(pwid.empty());
  EXPECT_EQ(client.Aes("revokeCert", {{"cn", c.cn}, {"pwid", "bogus"}}, c.key)["rtnCode"], "2302");
  Reply revoked = client.Aes("revokeCert", {{"cn", c.cn}, {"pwid", pwid}}, c.key);
  EXPECT_EQ(revoked["rtnCode"], "0");
  EXPECT_EQ(client.Aes("revokeCert", {{"cn", c.cn}}, c.key)["rtnCode"], "2301");
  Reply st2;
  EXPECT_EQ(Fn(client, c, &st2), "10000");
  EXPECT_EQ(st2["effectCertCount"], "0");
  last = client.Aes("qryLastActiveCert", {{"cn", c.cn}}, c.key);
  EXPECT_EQ(last["state"], "31") << "removal from the browsers still finds it";
  EXPECT_EQ(client.Aes("dlCert", {{"cn", c.cn}}, c.key)["rtnCode"], "2201");
  Reply reapplied = client.Aes("applyCert", {{"csr", MakeRequest(c.cn).csr}, {"pwid", pwid}, {"userId", c.seed.idno}}, c.key);
  EXPECT_EQ(reapplied["rtnCode"], "0");
  Reply reused = client.Aes("revokeCert", {{"cn", c.cn}, {"pwid", pwid}}, c.key);
  EXPECT_EQ(reused["rtnCode"], "2302") << "the code identifier is used up";
}

// A reply lost on its way back leaves the work done: the certificate is
// issued and waits to be fetched again. A renewal keeps the old key's
// signature it was granted on.
TEST(DevProxyCertificates, LostRepliesLeaveTheCertificateIssuedAndRenewalsKeepTheirProof) {
  DevProxy& proxy = SharedProxy();
  TestClient client(proxy);
  Customer c = LoggedIn(proxy, client);
  Request req = MakeRequest(c.cn);
  proxy.SetFault("applyCert", *ParseFault("lost,times:1"));
  Reply lost = client.Aes("applyCert", {{"csr", req.csr}, {"userId", c.seed.idno}}, c.key);
  EXPECT_EQ(lost.status, 0) << "no answer arrives";
  EXPECT_EQ(Fn(client, c), "20001") << "issued, not installed";
  Reply again = client.Aes("dlCert", {{"cn", c.cn}}, c.key);
  ASSERT_EQ(again["rtnCode"], "0");
  EXPECT_FALSE(UserCertDer(again["cert"]).empty());
  ASSERT_EQ(client.Aes("activeCert", {{"certApplyId", again.blocks["certInfo"]["certId"]}, {"certPath", ""}}, c.key)["rtnCode"], "0");
  auto applied = proxy.Certificates(c.seed.idno);
  ASSERT_EQ(applied.size(), 1u);
  EXPECT_EQ(applied[0].replaces_serial, "");
  EXPECT_EQ(applied[0].renewal_proof, "");

  ASSERT_TRUE(proxy.SetCertExpiryForTesting(c.seed.idno, 10));
  Request renew = MakeRequest(c.cn);
  std::string sign = SignText(req.key.get(), UserCertDer(again["cert"]), renew.csr);
  proxy.SetFault("renewCert", *ParseFault("lost,times:1"));
  Reply renewed = client.Aes("renewCert", {{"csr", renew.csr}, {"hexSerial", applied[0].serial}, {"sign", sign}}, c.key);
  EXPECT_EQ(renewed.status, 0);
  EXPECT_EQ(Fn(client, c), "02111") << "the renewal waits to be fetched";
  auto certs = proxy.Certificates(c.seed.idno);
  ASSERT_EQ(certs.size(), 2u);
  EXPECT_EQ(certs[0].state, "10");
  EXPECT_EQ(certs[0].replaces_serial, applied[0].serial);
  EXPECT_EQ(certs[0].renewal_proof, sign);
}

// The admin endpoint reaches the states a lost answer or a revocation at the
// counter leave, without them happening.
TEST(DevProxyCertificates, AdminPutsTheNewestCertificateBackToIssuedOrRevoked) {
  DevProxy& proxy = SharedProxy();
  TestClient client(proxy);
  Customer c = LoggedIn(proxy, client);
  EXPECT_FALSE(proxy.SetCertStateForTesting(c.seed.idno, "issued")) << "no certificate yet";
  Request req = MakeRequest(c.cn);
  Reply applied = client.Aes("applyCert", {{"csr", req.csr}, {"userId", c.seed.idno}}, c.key);
  ASSERT_EQ(applied["rtnCode"], "0");
  auto activate = [&](const Reply& r) {
    return client.Aes("activeCert", {{"certApplyId", r.blocks.at("certInfo").at("certId")}, {"certPath", "/x.P12"}},
                      c.key)["rtnCode"];
  };
  ASSERT_EQ(activate(applied), "0");

  ASSERT_TRUE(proxy.SetCertStateForTesting(c.seed.idno, "issued"));
  EXPECT_EQ(Fn(client, c), "20001");
  EXPECT_EQ(proxy.Certificates(c.seed.idno)[0].cert_path, "");
  EXPECT_EQ(client.Aes("dlCert", {{"cn", c.cn}}, c.key)["cert"], applied["cert"]);
  ASSERT_EQ(activate(applied), "0");

  // A renewal put back: its predecessor is the live certificate again.
  ASSERT_TRUE(proxy.SetCertExpiryForTesting(c.seed.idno, 10));
  std::string old_serial = proxy.Certificates(c.seed.idno)[0].serial;
  Request renew = MakeRequest(c.cn);
  std::string sign = SignText(req.key.get(), UserCertDer(applied["cert"]), renew.csr);
  Reply renewed = client.Aes("renewCert", {{"csr", renew.csr}, {"hexSerial", old_serial}, {"sign", sign}}, c.key);
  ASSERT_EQ(renewed["rtnCode"], "0") << renewed["rtnMsg"];
  ASSERT_EQ(activate(renewed), "0");
  ASSERT_TRUE(proxy.SetCertStateForTesting(c.seed.idno, "issued"));
  EXPECT_EQ(Fn(client, c), "02111");
  EXPECT_EQ(client.Aes("qryLastActiveCert", {{"cn", c.cn}}, c.key)["serial"], old_serial);
  EXPECT_EQ(client.Aes("renewCert", {{"csr", ""}, {"hexSerial", old_serial}, {"sign", ""}}, c.key)["cert"],
            renewed["cert"]);
  ASSERT_EQ(activate(renewed), "0");
  EXPECT_EQ(proxy.Certificates(c.seed.idno)[1].state, "13");

  ASSERT_TRUE(proxy.SetCertStateForTesting(c.seed.idno, "revoked"));
  EXPECT_EQ(Fn(client, c), "10000");
  EXPECT_FALSE(proxy.SetCertStateForTesting(c.seed.idno, "issued")) << "a revoked certificate stays revoked";
  EXPECT_FALSE(proxy.SetCertStateForTesting(c.seed.idno, "lost"));
}

TEST(DevProxyCertificates, PolicyShapesTheAnswer) {
  Options o = TestOptions("policy");
  auto proxy = DevProxy::Start(o, nullptr);
  ASSERT_TRUE(proxy);
  TestClient client(*proxy);
  IssuePolicy p;
  p.pkcs7_bundle = false;
  p.valid_days = 20;
  p.renew_window_days = 30;
  p.issuer_cn = "Second Issuing CA";
  p.require_auth_code = true;
  proxy->SetIssuePolicy(p);
  Customer c;
  c.seed = UniqueCustomer(*proxy);
  c.key = client.Login(c.seed.aid, c.seed.password);
  c.cn = c.seed.idno + "-01";
  Request req = MakeRequest(c.cn);
  EXPECT_EQ(client.Aes("applyCert", {{"csr", req.csr}, {"userId", c.seed.idno}}, c.key)["rtnCode"], "2006");
  ASSERT_EQ(client.Aes("verifyPwBag", {{"id", c.seed.idno}, {"aid", c.seed.aid}, {"pw", "QW12ER"}}, c.key)["rtnCode"], "0");
  Reply r = client.Aes("applyCert", {{"csr", req.csr}, {"userId", c.seed.idno}}, c.key);
  ASSERT_EQ(r["rtnCode"], "0");
  std::string der = base64Decode(r["cert"]);
  EXPECT_EQ(UserCertDer(r["cert"]), der) << "a single DER certificate";
  EXPECT_EQ(r.blocks["certInfo"]["issuer"], "CN=Second Issuing CA, O=QUIL Demo CA, C=TW");
  EXPECT_NE(OpenSslVerify(*proxy, r["cert"]).find(": OK"), std::string::npos) << OpenSslVerify(*proxy, r["cert"]);
  client.Aes("activeCert", {{"certApplyId", r.blocks["certInfo"]["certId"]}, {"certPath", ""}}, c.key);
  EXPECT_EQ(Fn(client, c), "01111") << "20 days is inside a 30-day window";
}

TEST(DevProxyCertificates, MobileCertificatesAreListed) {
  DevProxy& proxy = SharedProxy();
  TestClient client(proxy);
  std::string key = client.Login("9A010000002", "demo1234");
  ASSERT_FALSE(key.empty());
  Reply r = client.Aes("qryCert2", {{"cn", "B223456789-01"}}, key);
  EXPECT_EQ(r["rtnCode"], "0");
  ASSERT_EQ(r.mobile.size(), 2u);
  EXPECT_EQ(r.mobile[0]["cn"], "B223456789-M1");
  EXPECT_EQ(r.mobile[1]["cn"], "B223456789");
  EXPECT_EQ(r.mobile[0]["actFlg"], "Y");
  EXPECT_TRUE(r.blocks["pcCert"].empty());
}

}  // namespace
}  // namespace quil::devproxy::testing
