// Public-key and session envelopes, login and the account actions, seen
// from a client of the protocol.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "base/base64.h"
#include "support/socket_probe.h"
#include "test_client.h"

namespace quil::devproxy::testing {
namespace {

TEST(DevProxyStart, WritesEnvironmentAndServesLoopbackOnly) {
  DevProxy& proxy = SharedProxy();
  EXPECT_EQ(proxy.base_url(), proxy.origin() + "/PELIProxy/proxy/");
  EXPECT_EQ(proxy.origin().rfind("https://127.0.0.1:", 0), 0u);
  std::ifstream env(proxy.env_file());
  std::stringstream text;
  text << env.rdbuf();
  for (const std::string& line :
       {"QUIL_PROXY_URL=" + proxy.base_url(), "QUIL_PROXY_PUBKEY=" + proxy.public_key_path(),
        "QUIL_PROXY_CA=" + proxy.ca_bundle_path(), "QUIL_BRIDGE_URL=" + proxy.bridge_url(),
        "QUIL_IP_SERVICES=" + proxy.ip_services()})
    EXPECT_NE(text.str().find(line + "\n"), std::string::npos) << line;
  // The public key is a 2048-bit SubjectPublicKeyInfo PEM of 451 characters.
  EXPECT_EQ(proxy.public_key_pem().size(), 451u);
  EXPECT_EQ(proxy.public_key_pem().rfind("-----BEGIN PUBLIC KEY-----", 0), 0u);

  TestClient client(proxy);
  Reply bridge = client.Get("/mobile/bridge/bridge.ashx");
  EXPECT_EQ(bridge.status, 200);
  EXPECT_EQ(bridge.body, "127.0.0.1\r\n");
}

// Answers leave in two writes; with Nagle's algorithm on the second waits
// for the client's delayed acknowledgement on every exchange.
TEST(DevProxyStart, ConnectionsSendWithoutWaitingForAcknowledgements) {
  EXPECT_EQ(quil::testing::AcceptedSocketHasNoDelay(SharedProxy().port()), std::optional<bool>(true));
}

TEST(DevProxyEnvelope, PublicKeyReplyIsSignedIn256ByteBlocks) {
  DevProxy& proxy = SharedProxy();
  TestClient client(proxy);
  Reply r = client.Rsa("getSysCfg", {{"version", "1.9"}});
  ASSERT_EQ(r.status, 200);
  std::string blocks = base64Decode(r.body);
  EXPECT_EQ(blocks.size() % 256, 0u);
  EXPECT_GT(blocks.size(), 256u) << "the settings need several blocks";
  EXPECT_EQ(r["rtnCode"], "0");
  EXPECT_EQ(r["cert.expType"], "pfx");
  EXPECT_EQ(r["pfx.pwd.prompt"], "憑證密碼須為6~10碼英文或數字");
  EXPECT_EQ(r["depCert.templateUrl"], proxy.template_url());
  // The text itself is code page 950, not UTF-8.
  EXPECT_EQ(r.text.find("憑證"), std::string::npos);

  // A different key cannot open the reply.
  PKey other = LoadPrivateKeyPem(quil::testing::TestKeyPem("stranger"));
  EXPECT_EQ(OpenRsaReply(other.get(), r.body), "");
}

TEST(DevProxyEnvelope, SettingsProfilesAndSingleKeys) {
  Options o = TestOptions("profiles");
  auto proxy = DevProxy::Start(o, nullptr);
  ASSERT_TRUE(proxy);
  TestClient client(*proxy);
  struct Case {
    const char* profile;
    const char* exp_type;
    const char* read_order;
  } kCases[] = {{"pfx", "pfx", "pfx"},
                {"store", "ieCertStore", "ieCertStore"},
                {"pfx,store", "pfx,ieCertStore", "pfx,ieCertStore"},
                {"store,pfx", "ieCertStore,pfx", "ieCertStore,pfx"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.profile);
    ASSERT_TRUE(proxy->ApplySettingsProfile(c.profile));
    Reply r = client.Rsa("getSysCfg", {{"version", "1.9"}});
    EXPECT_EQ(r["cert.expType"], c.exp_type);
    EXPECT_EQ(r["cert.readOrder"], c.read_order);
  }
  EXPECT_FALSE(proxy->ApplySettingsProfile("floppy"));
  proxy->SetSysCfg("depCert.mode", "S");
  proxy->SetSysCfg("app.dlUrl", "");
  Reply r = client.Rsa("getSysCfg", {{"version", "1.9"}});
  EXPECT_EQ(r["depCert.mode"], "S");
  EXPECT_EQ(r.fields.count("app.dlUrl"), 0u);
}

TEST(DevProxyEnvelope, CheckVersionFollowsThePolicy) {
  Options o = TestOptions("version");
  auto proxy = DevProxy::Start(o, nullptr);
  ASSERT_TRUE(proxy);
  TestClient client(*proxy);
  VersionPolicy notices;
  notices.notice = "系統將於週六維護";
  notices.general_report_text = "公告";
  notices.is_show_report_text = "true";
  VersionPolicy closed;
  closed.available = "false";
  VersionPolicy update;
  update.rtn_code = "2";
  update.rtn_msg = "請更新程式";
  struct Case {
    const char* name;
    VersionPolicy policy;
    const char* version;
    const char* rtn_code;
    const char* notice;
    const char* available;
  } kCases[] = {
      {"accepted", VersionPolicy{}, "1.9", "0", "", "true"},
      {"notices", notices, "1.9", "0", "系統將於週六維護", "true"},
      {"not available", closed, "1.9", "0", "", "false"},
      {"update required", update, "1.9", "2", "", "true"},
      {"other version", VersionPolicy{}, "1.8", "1", "", "true"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    proxy->SetVersionPolicy(c.policy);
    Reply r = client.Rsa("checkVersion", {{"version", c.version}});
    EXPECT_EQ(r["rtnCode"], c.rtn_code);
    EXPECT_EQ(r["notice"], c.notice);
    EXPECT_EQ(r["available"], c.available);
    EXPECT_EQ(r.fields.count("width"), 1u);
  }
  Reply r = client.Rsa("getSysCfg", {{"version", "1.9"}});
  EXPECT_EQ(r["app.dlUrl"], proxy->origin() + "/download/QUILSetup.exe");
  EXPECT_EQ(client.Get("/download/QUILSetup.exe").status, 200);
  EXPECT_EQ(client.Get("/download/MeroCpntSetup.exe").status, 200);
  EXPECT_EQ(client.Get("/download/nothing.exe").status, 404);
}

TEST(DevProxyLogin, PasswordsFirstLoginAndLockOut) {
  DevProxy& proxy = SharedProxy();
  TestClient client(proxy);
  CustomerSeed c = UniqueCustomer(proxy);
  struct Step {
    const char* name;
    std::string aid, pw;
    const char* rtn_code;
  } kSteps[] = {
      {"unknown account", "9Z009999999", "pass1234", "1002"},
      {"by account", c.aid, "pass1234", "0"},
      {"by identity number, lower case", "t" + c.idno.substr(1), "pass1234", "0"},
      {"first wrong password", c.aid, "wrong111", "1001"},
      {"right password resets the count", c.aid, "pass1234", "0"},
      {"wrong 1", c.aid, "wrong111", "1001"},
      {"wrong 2", c.aid, "wrong111", "1001"},
      {"wrong 3 locks", c.aid, "wrong111", "1003"},
      {"locked even with the right password", c.aid, "pass1234", "1003"},
  };
  for (const auto& s : kSteps) {
    SCOPED_TRACE(s.name);
    Reply r;
    std::string key = client.Login(s.aid, s.pw, &r);
    EXPECT_EQ(r["rtnCode"], s.rtn_code);
    if (std::string(s.rtn_code) == "0") {
      EXPECT_EQ(key.size(), 32u);
      EXPECT_EQ(r["id"], c.idno);
      EXPECT_EQ(r["email"], c.email);
      EXPECT_EQ(r["birthday"], c.birthday);
      EXPECT_EQ(r["isApplyPwBag"], "A");
      EXPECT_EQ(r["isFirstLogin"], "N");
      EXPECT_FALSE(r["applyOnlinePwNotice"].empty());
    } else {
      EXPECT_EQ(r.fields.count("aeskey"), 0u);
      EXPECT_FALSE(r["rtnMsg"].empty());
    }
  }
}

TEST(DevProxyLogin, EachLoginGetsItsOwnKeyAndLogoutEndsIt) {
  DevProxy& proxy = SharedProxy();
  TestClient client(proxy);
  CustomerSeed a = UniqueCustomer(proxy), b = UniqueCustomer(proxy);
  std::string ka = client.Login(a.aid, a.password), kb = client.Login(b.aid, b.password);
  std::string ka2 = client.Login(a.aid, a.password);
  ASSERT_FALSE(ka.empty());
  EXPECT_NE(ka, kb);
  EXPECT_NE(ka, ka2);

  Reply r = client.Aes("getCn", {{"userId", a.idno}}, ka);
  EXPECT_EQ(r["rtnCode"], "0");
  EXPECT_EQ(r["cn"], a.idno + "-01");
  // Another customer's identity number is refused under a's key.
  r = client.Aes("getCn", {{"userId", b.idno}}, ka);
  EXPECT_NE(r["rtnCode"], "0");
  EXPECT_EQ(r.fields.count("cn"), 0u);
  EXPECT_EQ(client.Aes("iAmAlive", {{"trash", ""}, {"version", "1.9"}}, kb)["rtnCode"], "0");

  EXPECT_EQ(client.Aes("doLogout", {{"version", "1.9"}}, ka)["rtnCode"], "0");
  r = client.Aes("getCn", {{"userId", a.idno}}, ka);
  EXPECT_EQ(r.status, 401) << "a logged-out key is refused";
  // The second login of a and b's session live on.
  EXPECT_EQ(client.Aes("getCn", {{"userId", a.idno}}, ka2)["rtnCode"], "0");
  EXPECT_EQ(client.Aes("getCn", {{"userId", b.idno}}, kb)["rtnCode"], "0");
  // A key nobody was given.
  EXPECT_EQ(client.Aes("getCn", {{"userId", a.idno}}, "0123456789abcdef")["rtnCode"], "");
  EXPECT_EQ(client.Aes("getCn", {{"userId", a.idno}}, "0123456789abcdef").status, 401);
}

TEST(DevProxyLogin, IdleSessionExpires) {
  Options o = TestOptions("expiry");
  o.session_timeout_s = 60;
  ManualClock clock;
  o.clock = clock.Function();
  auto proxy = DevProxy::Start(o, nullptr);
  ASSERT_TRUE(proxy);
  TestClient client(*proxy);
  CustomerSeed c = UniqueCustomer(*proxy);
  std::string key = client.Login(c.aid, c.password);
  clock.Advance(60);
  EXPECT_EQ(client.Aes("iAmAlive", {{"trash", ""}, {"version", "1.9"}}, key).status, 200)
      << "idle exactly as long as allowed";
  clock.Advance(60);
  EXPECT_EQ(client.Aes("iAmAlive", {{"trash", ""}, {"version", "1.9"}}, key).status, 200)
      << "each call starts the idle time anew";
  clock.Advance(61);
  EXPECT_EQ(client.Aes("iAmAlive", {{"trash", ""}, {"version", "1.9"}}, key).status, 401);
  EXPECT_EQ(proxy->SessionCount(), 0);
}

TEST(DevProxyAccount, ChangePasswordRules) {
  DevProxy& proxy = SharedProxy();
  TestClient client(proxy);
  CustomerSeed c = UniqueCustomer(proxy);
  c.first_login = true;
  std::string key = client.Login(c.aid, c.password);
  struct Case {
    const char* name;
    std::string aid, old_pw, new_pw;
    const char* rtn_code;
  } kCases[] = {
      {"wrong current password", c.aid, "nope1234", "abc12345", "1101"},
      {"too short", c.aid, "pass1234", "ab1", "1102"},
      {"digits only", c.aid, "pass1234", "12345678", "1102"},
      {"punctuation", c.aid, "pass1234", "abc-1234", "1102"},
      {"same as before", c.aid, "pass1234", "pass1234", "1103"},
      {"someone else's account", "9Z000000000", "pass1234", "abc12345", "9002"},
      {"accepted", c.aid, "pass1234", "newpw123", "0"},
  };
  for (const auto& k : kCases) {
    SCOPED_TRACE(k.name);
    Reply r = client.Aes("changePw", {{"aid", k.aid}, {"oldPw", k.old_pw}, {"newPw", k.new_pw}}, key);
    EXPECT_EQ(r["rtnCode"], k.rtn_code);
    EXPECT_EQ(r.fields.count("extraMsg"), 1u);
  }
  EXPECT_TRUE(client.Login(c.aid, "pass1234").empty());
  EXPECT_FALSE(client.Login(c.aid, "newpw123").empty());
}

TEST(DevProxyAccount, FirstLoginIsFlaggedUntilThePasswordChanges) {
  DevProxy& proxy = SharedProxy();
  TestClient client(proxy);
  CustomerSeed d;
  for (const auto& s : proxy.DemoCustomers())
    if (s.first_login) d = s;
  ASSERT_FALSE(d.idno.empty());
  Reply r;
  std::string key = client.Login(d.aid, d.password, &r);
  EXPECT_EQ(r["isFirstLogin"], "Y");
  EXPECT_EQ(client.Aes("changePw", {{"aid", d.aid}, {"oldPw", d.password}, {"newPw", "fresh789"}}, key)["rtnCode"], "0");
  client.Login(d.aid, "fresh789", &r);
  EXPECT_EQ(r["isFirstLogin"], "N");
}

TEST(DevProxyAccount, OnlineCodeRequestRefusals) {
  DevProxy& proxy = SharedProxy();
  TestClient client(proxy);
  CustomerSeed c = UniqueCustomer(proxy);
  std::string key = client.Login(c.aid, c.password);
  auto request = [&](Fields f) {
    Fields base = {{"id", c.idno}, {"aid", c.aid}, {"notifyType", "0"}, {"notifyAddr", c.email},
                   {"birthday", c.birthday}, {"applyType", "new"}};
    for (const auto& [k, v] : f) base[k] = v;
    return client.Aes("getOnlinePw", base, key);
  };
  struct Case {
    const char* name;
    Fields change;
    const char* rtn_code;
  } kCases[] = {
      {"wrong birthday", {{"birthday", "19990101"}}, "-7"},
      {"address not on file", {{"notifyAddr", "x@example.com"}}, "-8"},
      {"no certificate to revoke", {{"applyType", "revoke"}}, "-9"},
      {"someone else", {{"id", "A123456789"}}, "-13"},
      {"unknown notify type", {{"notifyType", "7"}}, "-14"},
      {"by SMS", {{"notifyType", "1"}, {"notifyAddr", c.mobile}}, "0"},
      {"again at once", {}, "-11"},
  };
  for (const auto& k : kCases) {
    SCOPED_TRACE(k.name);
    Reply r = request(k.change);
    EXPECT_EQ(r["rtnCode"], k.rtn_code);
    if (std::string(k.rtn_code) == "0") {
      EXPECT_EQ(r["createtime"].size(), 14u);
      EXPECT_EQ(r["onlinepw"].size(), 4u) << "a reference, never the code itself";
    }
  }
  auto mail = proxy.Mailbox();
  ASSERT_FALSE(mail.empty());
  EXPECT_EQ(mail.back().idno, c.idno);
  EXPECT_EQ(mail.back().notify_addr, c.mobile);
  EXPECT_EQ(mail.back().code.size(), 6u);
  Reply page = client.Get("/demo/mailbox");
  EXPECT_NE(page.body.find(mail.back().code), std::string::npos);
}

TEST(DevProxyAccount, OnlineCodeThreeRefusalsAndPwid) {
  DevProxy& proxy = SharedProxy();
  TestClient client(proxy);
  CustomerSeed c = UniqueCustomer(proxy);
  std::string key = client.Login(c.aid, c.password);
  auto get_code = [&] {
    Reply r = client.Aes("getOnlinePw", {{"id", c.idno}, {"aid", c.aid}, {"notifyType", "0"},
                                         {"notifyAddr", c.email}, {"birthday", c.birthday},
                                         {"applyType", "new"}}, key);
    EXPECT_EQ(r["rtnCode"], "0");
    return proxy.Mailbox().back().code;
  };
  auto verify = [&](const std::string& pw) {
    return client.Aes("verifyOnlinePw", {{"id", c.idno}, {"aid", c.aid}, {"pw", pw}, {"applyType", "new"}}, key);
  };
  std::string code = get_code();
  std::string wrong = code == "000000" ? "111111" : "000000";
  EXPECT_EQ(verify(wrong)["rtnCode"], "-1");
  EXPECT_EQ(verify(wrong)["rtnCode"], "-1");
  EXPECT_EQ(verify(wrong)["rtnCode"], "-3");
  Reply dead = verify(code);
  EXPECT_EQ(dead["rtnCode"], "-4") << "the code died with the third refusal";
  EXPECT_EQ(dead.fields.count("pwid"), 0u);
  // A fresh code (another customer, so no re-request interval applies).
  c = UniqueCustomer(proxy);
  key = client.Login(c.aid, c.password);
  code = get_code();
  Reply ok = verify(code);
  EXPECT_EQ(ok["rtnCode"], "0");
  EXPECT_EQ(ok["pwid"].size(), 24u);
  EXPECT_EQ(verify(code)["rtnCode"], "-4") << "a code is accepted once";
}

TEST(DevProxyAccount, SheetCodesAndTheirLockOut) {
  DevProxy& proxy = SharedProxy();
  TestClient client(proxy);
  CustomerSeed c = UniqueCustomer(proxy);
  std::string key = client.Login(c.aid, c.password);
  auto verify = [&](const std::string& pw, const std::string& id) {
    return client.Aes("verifyPwBag", {{"id", id}, {"aid", c.aid}, {"pw", pw}}, key)["rtnCode"];
  };
  EXPECT_EQ(verify("QW12ER", c.idno), "0");
  EXPECT_EQ(verify("ty34ui", c.idno), "0") << "codes are not case-sensitive";
  EXPECT_EQ(verify("QW12ER", "A123456789"), "-4");
  EXPECT_EQ(verify("ZZZZZZ", c.idno), "-2");
  EXPECT_EQ(verify("ZZZZZZ", c.idno), "-2");
  EXPECT_EQ(verify("ZZZZZZ", c.idno), "-3");
  EXPECT_EQ(verify("QW12ER", c.idno), "-3") << "locked after three refusals";
}

TEST(DevProxyAccount, BranchesAuditAndRegistryItems) {
  DevProxy& proxy = SharedProxy();
  TestClient client(proxy);
  Reply all = client.Rsa("qryBranchAll", {});
  EXPECT_EQ(all["rtnCode"], "0");
  EXPECT_NE(all["branch"].find("台北分公司#9A00||"), std::string::npos) << all["branch"];
  Reply one = client.Rsa("qryBranch", {{"id", "A123456789"}});
  EXPECT_EQ(one["branch"], "9A00 台北分公司#9A000000001");
  EXPECT_EQ(client.Rsa("qryBranch", {{"id", "Z999999999"}}).fields.count("branch"), 0u);

  CustomerSeed c = UniqueCustomer(proxy);
  std::string key = client.Login(c.aid, c.password);
  client.Rsa("writeLog2", {{"id", c.idno}, {"aid", c.aid}, {"funcid", "1"}, {"memo", "1999"}});
  client.Aes("writeLog", {{"id", c.idno}, {"aid", c.aid}, {"funcid", "1"}, {"memo", "登入 1000"}}, key);
  std::vector<AuditRecord> mine;
  for (const auto& a : proxy.AuditRecords())
    if (a.id == c.idno) mine.push_back(a);
  ASSERT_EQ(mine.size(), 2u);
  EXPECT_EQ(mine[0].action, "writeLog2");
  EXPECT_EQ(mine[0].session_idno, "");
  EXPECT_EQ(mine[1].action, "writeLog");
  EXPECT_EQ(mine[1].memo, "登入 1000");
  EXPECT_EQ(mine[1].session_idno, c.idno);
  EXPECT_EQ(mine[1].time.size(), 14u);

  Reply reg = client.Rsa("getRegSet", {});
  EXPECT_EQ(reg["rtnCode"], "0");
  ASSERT_FALSE(reg.items.empty());
  for (const auto& item : reg.items) {
    EXPECT_FALSE(item.at("regPath").empty());
    EXPECT_FALSE(item.at("regName").empty());
    EXPECT_FALSE(item.at("regValueType").empty());
    EXPECT_FALSE(item.at("regId").empty());
  }
}

}  // namespace
}  // namespace quil::devproxy::testing

namespace quil::devproxy::testing {
namespace {

// The request names no session; the key that opens its fields is what
// identifies it. Many live sessions must never be confused.
TEST(DevProxyLogin, ManyLiveSessionsAreNeverConfused) {
  Options o = TestOptions("sessions");
  auto proxy = DevProxy::Start(o, nullptr);
  ASSERT_TRUE(proxy);
  TestClient client(*proxy);
  std::vector<CustomerSeed> customers;
  std::vector<std::string> keys;
  for (int i = 0; i < 100; ++i) {
    customers.push_back(UniqueCustomer(*proxy));
    keys.push_back(client.Login(customers.back().aid, customers.back().password));
  }
  int wrong = 0;
  for (int round = 0; round < 1000; ++round) {
    int i = (round * 37) % 100;
    Reply r = client.Aes("getCn", {{"userId", customers[i].idno}}, keys[i]);
    if (r["cn"] != customers[i].idno + "-01") ++wrong;
  }
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace quil::devproxy::testing

namespace quil::devproxy::testing {
namespace {

TEST(DevProxyAccount, OnlineCodeExpires) {
  Options o = TestOptions("code-expiry");
  o.online_code_lifetime_s = 300;
  ManualClock clock;
  o.clock = clock.Function();
  auto proxy = DevProxy::Start(o, nullptr);
  ASSERT_TRUE(proxy);
  TestClient client(*proxy);
  CustomerSeed c = UniqueCustomer(*proxy);
  std::string key = client.Login(c.aid, c.password);
  Reply r = client.Aes("getOnlinePw", {{"id", c.idno}, {"aid", c.aid}, {"notifyType", "0"}, {"notifyAddr", ""},
                                       {"birthday", c.birthday}, {"applyType", ""}}, key);
  ASSERT_EQ(r["rtnCode"], "0") << "an empty address means the one on file";
  EXPECT_EQ(proxy->Mailbox().back().notify_addr, c.email);
  clock.Advance(301);
  Reply late = client.Aes("verifyOnlinePw", {{"id", c.idno}, {"aid", c.aid}, {"pw", proxy->Mailbox().back().code},
                                             {"applyType", "new"}}, key);
  EXPECT_EQ(late["rtnCode"], "-2");
  EXPECT_EQ(late.fields.count("pwid"), 0u);
}

}  // namespace
}  // namespace quil::devproxy::testing

namespace quil::devproxy::testing {
namespace {

TEST(DevProxyLogin, SessionCountIsBounded) {
  Options o = TestOptions("max-sessions");
  o.max_sessions = 3;
  ManualClock clock;
  o.clock = clock.Function();
  auto proxy = DevProxy::Start(o, nullptr);
  ASSERT_TRUE(proxy);
  TestClient client(*proxy);
  std::vector<CustomerSeed> c;
  std::vector<std::string> keys;
  for (int i = 0; i < 4; ++i) {
    c.push_back(UniqueCustomer(*proxy));
    keys.push_back(client.Login(c[i].aid, c[i].password));
    clock.Advance(1);  // distinct idle times
  }
  EXPECT_EQ(proxy->SessionCount(), 3);
  EXPECT_EQ(client.Aes("getCn", {{"userId", c[0].idno}}, keys[0]).status, 401) << "the longest idle went";
  for (int i = 1; i < 4; ++i) EXPECT_EQ(client.Aes("getCn", {{"userId", c[i].idno}}, keys[i])["rtnCode"], "0");
}

}  // namespace
}  // namespace quil::devproxy::testing
