#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>

#include "base/result_codes.h"
#include "base/settings.h"
#include "fake_proxy.h"
#include "proxy/actions.h"
#include "proxy/envelope.h"

namespace quil::proxy {
namespace {

using testing::ProxyTestEnv;
using testing::Raw;
using testing::Xml;

const char kKey[] = "K0123456789abcdef";

// The call step of an action that hands the transport's own result on: 1
// for a status other than 200, 59999 for a failed network exchange.
constexpr int kTransport = -1;

struct Row {
  const char* action;
  std::function<int()> run;
  int call, parse, no_root, refused;
};

// clang-format off
std::vector<Row> Rows() {
  return {
      {"checkVersion", [] { return checkVersion().code; },
       kVersionCallFailed, kVersionReplyUnreadable, kVersionNoRoot, kVersionMismatch},
      {"qryCert", [] { return qryCert("CN1").code; },
       kTransport, kQryCertReplyUnreadable, kQryCertRefused, kQryCertRefused},
      {"qryCert2", [] { return qryCert2("CN1").code; },
       kTransport, kQryCertReplyUnreadable, kQryCertRefused, kQryCertRefused},
      {"getFnStatus", [] { return getFnStatus("CN1").code; },
       kFnStatusCallFailed, kFnStatusReplyUnreadable, kFnStatusReplyUnreadable, kFnStatusReplyUnreadable},
      {"applyCert", [] { return applyCert("csr", "A1").code; },
       kApplyCertCallFailed, kCertReplyUnreadable, kCertReplyUnreadable, kApplyCertRefused},
      {"renewCert", [] { return renewCert("csr", "0A", "sig").code; },
       kTransport, kRenewCertSendFailed, kRenewCertSendFailed, kRenewCertRefused},
      {"dlCert", [] { return dlCert("CN1").code; },
       kDlCertCallFailed, kCertReplyUnreadable, kCertReplyUnreadable, kDlCertRefused},
      {"revokeCert", [] { return revokeCert("CN1").code; },
       kRevokeCallFailed, kRevokeReplyUnreadable, kRevokeReplyUnreadable, kOk},
      {"activeCert", [] { return activeCert(7, "/p"); },
       kActiveCertFailed, kOk, kOk, kOk},
      {"changePfxPwVerifyP7", [] { return changePfxPwVerifyP7("sig"); },
       kTransport, kVerifyP7ReplyUnreadable, kVerifyP7ReplyUnreadable, kVerifyP7Refused},
      {"changePw", [] { return changePw("aid", "old", "new").code; },
       kTransport, kAccountReplyUnreadable, kAccountReplyUnreadable, kChangePwRefused},
      {"verifyOnlinePw", [] { return verifyOnlinePw("id", "aid", "pw", "revoke").code; },
       kTransport, kApplyCertRefused, kApplyCertRefused, kOk},
      {"verifyPwBag", [] { return verifyPwBag("id", "aid", "pw").code; },
       kTransport, kVerifyPwBagReplyUnreadable, kVerifyPwBagReplyUnreadable, kVerifyPwBagRefused},
      {"getOnlinePw", [] { return getOnlinePw("id", "aid", "1", "a@b", "19800101", "t").code; },
       kTransport, kAccountReplyUnreadable, kAccountReplyUnreadable, kOk},
      {"doLogout", [] { return doLogout(); },
       kTransport, kLogoutReplyUnreadable, kLogoutFailed, kLogoutFailed},
      {"qryBranch", [] { return qryBranch("A1").code; },
       kTransport, kBranchReplyUnreadable, kBranchReplyUnreadable, kBranchRefused},
      {"qryBranchAll", [] { return qryBranchAll().code; },
       kTransport, kBranchReplyUnreadable, kBranchReplyUnreadable, kBranchRefused},
      {"getRegSet", [] { return getRegSet().code; },
       kRegSetReplyUnreadable, kRegSetReplyUnreadable, kRegSetRefused, kRegSetRefused},
      {"getSysCfg", [] { return getSysCfg().code; },
       kFailed, kFailed, kFailed, kFailed},
  };
}
// clang-format on

// The call step's code when the transport ended with `transport`.
int CallCode(const Row& row, int transport) { return row.call == kTransport ? transport : row.call; }

TEST(ActionCatalogueTest, CodesOfEachFailedStep) {
  ProxyTestEnv env;
  env.UseSessionKey(kKey);
  struct Step {
    const char* name;
    testing::ScriptedReply reply;
    std::function<int(const Row&)> code;
  } kSteps[] = {
      {"call fails (status 500)", Raw(500, ""), [](const Row& r) { return CallCode(r, kFailed); }},
      {"malformed reply", Xml("<r><rtnCode>0</rtnCode>"), [](const Row& r) { return r.parse; }},
      {"no root", Xml("<?xml version=\"1.0\"?>"), [](const Row& r) { return r.no_root; }},
      {"refused", Xml("<r><rtnCode>9</rtnCode><rtnMsg>no</rtnMsg></r>"), [](const Row& r) { return r.refused; }},
  };
  for (const auto& row : Rows()) {
    for (const auto& step : kSteps) {
      SCOPED_TRACE(std::string(row.action) + ": " + step.name);
      env.proxy().On(row.action, step.reply);
      const int before = env.proxy().Count(row.action);
      EXPECT_EQ(row.run(), step.code(row));
      EXPECT_EQ(env.proxy().Count(row.action), before + 1);
    }
  }
  EXPECT_TRUE(env.ui().messages.empty());
  EXPECT_EQ(sessionKey(), kKey);  // no failed logout dropped the key
}

// A server that takes each request and hangs up without answering: the
// exchange fails on the network (59999), at once and without a retry.
TEST(ActionCatalogueTest, NetworkFailurePassesThroughOrBecomesTheActionsCode) {
  ProxyTestEnv env;
  env.UseSessionKey(kKey);
  testing::RawServer hang_up([](int c) {
    char buf[4096];
    (void)read(c, buf, sizeof buf);
  });
  testing::ScopedEnv url("QUIL_PROXY_URL", hang_up.origin() + "/PELIProxy/proxy/");
  for (const auto& row : Rows()) {
    SCOPED_TRACE(row.action);
    const size_t boxes = env.ui().messages.size();
    EXPECT_EQ(row.run(), CallCode(row, kHttpFailed));
    EXPECT_EQ(env.ui().messages.size(), boxes + 1) << "one box per failed call";
  }
  iAmAlive();  // fire-and-forget shows its box too
  writeLog("id", "aid", "9", "9000");
  EXPECT_EQ(env.ui().messages.size(), Rows().size() + 2);
}

TEST(ActionCatalogueTest, EmptyArgumentsAreRefusedBeforeSending) {
  ProxyTestEnv env;
  env.UseSessionKey(kKey);
  struct Case {
    const char* name;
    std::function<int()> run;
    int code;
  } kCases[] = {
      {"qryCert without cn", [] { return qryCert("").code; }, kQryCertNoCn},
      {"qryCert2 without cn", [] { return qryCert2("").code; }, kQryCertNoCn},
      {"getFnStatus without cn", [] { return getFnStatus("").code; }, kFnStatusNoCn},
      {"changePfxPwVerifyP7 without sign", [] { return changePfxPwVerifyP7(""); }, kVerifyP7NoSign},
      {"changePw without aid", [] { return changePw("", "o", "n").code; }, kAccountEmpty},
      {"changePw without old password", [] { return changePw("a", "", "n").code; }, kPasswordEmpty},
      {"changePw without new password", [] { return changePw("a", "o", "").code; }, kPasswordEmpty},
      {"verifyOnlinePw without pw", [] { return verifyOnlinePw("i", "a", "", "t").code; }, kVerifyOnlinePwMissing},
      {"verifyOnlinePw without id", [] { return verifyOnlinePw("", "a", "p", "t").code; }, kVerifyOnlinePwMissing},
      {"verifyPwBag without aid", [] { return verifyPwBag("i", "", "p").code; }, kVerifyPwBagMissing},
      {"getOnlinePw without id", [] { return getOnlinePw("", "a", "1", "x", "b", "t").code; }, kAccountEmpty},
      {"getOnlinePw without aid", [] { return getOnlinePw("i", "", "1", "x", "b", "t").code; }, kAccountEmpty},
      {"getOnlinePw without notifyType", [] { return getOnlinePw("i", "a", "", "x", "b", "t").code; },
       kOnlinePwNoNotifyType},
      {"getOnlinePw without birthday", [] { return getOnlinePw("i", "a", "1", "x", "", "t").code; },
       kOnlinePwNoBirthday},
      {"qryBranch without id", [] { return qryBranch("").code; }, kBranchNoId},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.run(), c.code);
  }
  for (const char* a : {"qryCert", "qryCert2", "getFnStatus", "changePfxPwVerifyP7", "changePw", "verifyOnlinePw",
                        "verifyPwBag", "getOnlinePw", "qryBranch"})
    EXPECT_EQ(env.proxy().Count(a), 0) << a;
}

TEST(ActionCatalogueTest, CertificateRepliesAreJudgedInOrder) {
  ProxyTestEnv env;
  env.UseSessionKey(kKey);
  struct Case {
    const char* name;
    const char* action;
    const char* xml;
    int code;
    int cert_id;
  } kCases[] = {
      {"applyCert certId 7, empty cert", "applyCert",
       "<r><rtnCode>0</rtnCode><cert/><certInfo><certId>7</certId></certInfo></r>", kApplyCertNoCert, 7},
      {"applyCert without certId", "applyCert", "<r><rtnCode>0</rtnCode><cert>MII</cert><certInfo><cn>x</cn></certInfo></r>",
       kApplyCertNoId, 0},
      {"applyCert complete", "applyCert",
       "<r><rtnCode>0</rtnCode><cert>MII</cert><certInfo><certId>12</certId><cn>x</cn></certInfo></r>", 0, 12},
      {"renewCert empty cert before certId", "renewCert", "<r><rtnCode>0</rtnCode><cert></cert></r>",
       kRenewCertNoCert, 0},
      {"renewCert without certId", "renewCert", "<r><rtnCode>0</rtnCode><cert>MII</cert></r>", kRenewCertNoId, 0},
      {"dlCert certId 0", "dlCert", "<r><rtnCode>0</rtnCode><cert>MII</cert><certInfo><certId>0</certId></certInfo></r>",
       kDlCertNoId, 0},
      {"dlCert empty cert", "dlCert", "<r><rtnCode>0</rtnCode><certInfo><certId>3</certId></certInfo></r>",
       kDlCertNoCert, 3},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    env.proxy().On(c.action, Xml(c.xml));
    CertReply r = std::string(c.action) == "applyCert" ? applyCert("csr", "A1")
                  : std::string(c.action) == "renewCert" ? renewCert("csr", "0A", "sig")
                                                          : dlCert("CN1");
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.certId, c.cert_id);
    if (c.code == 0) {
      EXPECT_EQ(r.certInfo, (FieldMap{{"certId", "12"}, {"cn", "x"}}));
    }
  }
}

TEST(ActionCatalogueTest, RequestFieldsOfEachAction) {
  ProxyTestEnv env;
  env.UseSessionKey(kKey);
  (void)applyCert("", "A1");
  (void)applyCert("csr", "A1", "PW9");
  (void)revokeCert("CN1", "");
  (void)activeCert(42, "/home/u/x.p12");
  iAmAlive();
  writeLog2("", "aid", "9", "9000");
  (void)getRegSet();
  (void)getOnlinePw("id", "aid", "1", "", "19800101", "");
  (void)changePw("aid", "old", "new");
  writeLog("", "aid", "9", "9000");
  (void)renewCert("csr", "0A", "sig");
  (void)dlCert("CN1");
  struct Case {
    const char* name;
    const char* action;
    size_t index;
    std::map<std::string, std::string> fields;
  } kCases[] = {
      {"applyCert first form, empty csr still sent", "applyCert", 0, {{"csr", ""}, {"userId", "A1"}}},
      {"applyCert second form", "applyCert", 1, {{"csr", "csr"}, {"pwid", "PW9"}, {"userId", "A1"}}},
      {"revokeCert second form", "revokeCert", 0, {{"cn", "CN1"}, {"pwid", ""}}},
      {"activeCert", "activeCert", 0, {{"certApplyId", "42"}, {"certPath", "/home/u/x.p12"}}},
      {"iAmAlive sends an empty trash", "iAmAlive", 0, {{"trash", ""}, {"version", "1.9"}}},
      {"writeLog2 leaves empty fields out", "writeLog2", 0, {{"aid", "aid"}, {"funcid", "9"}, {"memo", "9000"}}},
      {"getRegSet posts an empty body", "getRegSet", 0, {}},
      {"getOnlinePw with empty notifyAddr and applyType", "getOnlinePw", 0,
       {{"aid", "aid"}, {"applyType", ""}, {"birthday", "19800101"}, {"id", "id"}, {"notifyAddr", ""},
        {"notifyType", "1"}}},
      {"changePw", "changePw", 0, {{"aid", "aid"}, {"newPw", "new"}, {"oldPw", "old"}}},
      {"writeLog sends empty fields", "writeLog", 0, {{"aid", "aid"}, {"funcid", "9"}, {"id", ""}, {"memo", "9000"}}},
      {"renewCert", "renewCert", 0, {{"csr", "csr"}, {"hexSerial", "0A"}, {"sign", "sig"}}},
      {"dlCert", "dlCert", 0, {{"cn", "CN1"}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    auto seen = env.proxy().Requests(c.action);
    ASSERT_GT(seen.size(), c.index);
    EXPECT_EQ(seen[c.index].fields, c.fields);
  }
}

TEST(ActionCatalogueTest, OutputsOfRepliesThatParse) {
  ProxyTestEnv env;
  env.UseSessionKey(kKey);
  auto& p = env.proxy();

  p.On("revokeCert", Xml("<r><rtnCode>9</rtnCode><rtnMsg>busy</rtnMsg></r>"));
  MapResult revoked = revokeCert("CN1");
  EXPECT_EQ(revoked.code, 0);
  EXPECT_EQ(revoked.fields, (FieldMap{{"rvkCode", "9"}, {"rvkMsg", "busy"}}));

  p.On("verifyOnlinePw", Xml("<r><rtnCode>2</rtnCode><rtnMsg>wrong</rtnMsg><pwid>P</pwid></r>"));
  auto refused = verifyOnlinePw("i", "a", "p", "revoke");
  EXPECT_EQ(refused.code, 0);
  EXPECT_EQ(refused.rtnCode, "2");
  EXPECT_EQ(refused.rtnMsg, "wrong");
  EXPECT_EQ(refused.pwid, "");
  p.On("verifyOnlinePw", Xml("<r><rtnCode>0</rtnCode><pwid>P</pwid></r>"));
  EXPECT_EQ(verifyOnlinePw("i", "a", "p", "revoke").pwid, "P");

  p.On("verifyPwBag", Xml("<r><rtnCode>5</rtnCode><rtnMsg>bad</rtnMsg></r>"));
  auto bag = verifyPwBag("i", "a", "p");
  EXPECT_EQ(bag.code, kVerifyPwBagRefused);
  EXPECT_EQ(bag.rtnCode, "5");
  EXPECT_EQ(bag.rtnMsg, "bad");

  p.On("getOnlinePw", Xml("<r><rtnCode>3</rtnCode><rtnMsg>later</rtnMsg><onlinepw>R1</onlinepw>"
                          "<createtime>20260101120000</createtime></r>"));
  auto code = getOnlinePw("i", "a", "1", "x", "b", "t");
  EXPECT_EQ(code.code, 0);
  EXPECT_EQ(code.rtnCode, "3");
  EXPECT_EQ(code.onlinepw, "R1");
  EXPECT_EQ(code.createtime, "20260101120000");

  p.On("changePw", Xml("<r><rtnCode>4</rtnCode><extraMsg>too short</extraMsg></r>"));
  auto pw = changePw("a", "o", "n");
  EXPECT_EQ(pw.code, kChangePwRefused);
  EXPECT_EQ(pw.extraMsg, "too short");

  p.On("getFnStatus", Xml("<r><rtnCode>0</rtnCode><fnStatus>YNY</fnStatus><certCount>2x</certCount></r>"));
  FnStatus fn = getFnStatus("CN1");
  EXPECT_EQ(fn.code, 0);
  EXPECT_EQ(fn.fnStatus, "YNY");
  EXPECT_EQ(fn.certCount, 2);
  EXPECT_EQ(fn.effectCertCount, 0);

  p.On("qryCert2", Xml("<r><rtnCode>0</rtnCode><pcCert><sn>1</sn></pcCert>"
                       "<mobileCert><cert><sn>2</sn></cert><cert><sn>3</sn></cert></mobileCert></r>"));
  Cert2Result c2 = qryCert2("CN1");
  EXPECT_EQ(c2.pcCert, (FieldMap{{"sn", "1"}}));
  ASSERT_EQ(c2.mobileCerts.size(), 2u);
  EXPECT_EQ(c2.mobileCerts[1], (FieldMap{{"sn", "3"}}));
  p.On("qryCert2", Xml("<r><rtnCode>0</rtnCode></r>"));
  c2 = qryCert2("CN1");
  EXPECT_TRUE(c2.pcCert.empty());
  EXPECT_TRUE(c2.mobileCerts.empty());

  p.On("qryCert", Xml("<r><rtnCode>1</rtnCode><a>1</a></r>"));
  EXPECT_EQ(QryCertPlain("CN1"), (FieldMap{{"a", "1"}}));  // the plain form does not judge rtnCode
  p.On("qryLastActiveCert", Raw(500, ""));
  EXPECT_TRUE(qryLastActiveCert("CN1").empty());
  p.On("qryLastActiveCert", Xml("<r><rtnCode>1</rtnCode><rtnMsg>none</rtnMsg><cn>CN1</cn></r>"));
  EXPECT_TRUE(qryLastActiveCert("CN1").empty()) << "a refusal names no current certificate";
  p.On("qryLastActiveCert", Xml("<r><rtnCode>0</rtnCode><cn>CN1</cn><serial>1A</serial></r>"));
  EXPECT_EQ(qryLastActiveCert("CN1"), (FieldMap{{"cn", "CN1"}, {"serial", "1A"}}));

  p.On("qryBranchAll", Xml("<r><rtnCode>0</rtnCode><rtnMsg>m</rtnMsg><b01>One</b01><b01>Two</b01></r>"));
  MapResult branches = qryBranchAll();
  EXPECT_EQ(branches.fields, (FieldMap{{"b01", "Two"}}));

  p.On("getRegSet", Xml("<r><rtnCode>0</rtnCode><item><regPath>Software\\X</regPath><regName>N</regName>"
                        "<regValue>1</regValue><regValueType>DW</regValueType><regId>R1</regId></item>"
                        "<rtnMsg/><other/></r>"));
  RegSetResult reg = getRegSet();
  EXPECT_EQ(reg.code, 0);
  ASSERT_EQ(reg.items.size(), 2u);
  EXPECT_EQ(reg.items[0].regPath, "Software\\X");
  EXPECT_EQ(reg.items[0].regValueType, "DW");
  EXPECT_EQ(reg.items[0].regId, "R1");
  EXPECT_EQ(reg.items[1].regPath, "");
}

TEST(ActionCatalogueTest, CheckVersionReadsDisplayFieldsBeforeTheRefusal) {
  ProxyTestEnv env;
  env.proxy().On("checkVersion", Xml("<r><rtnCode>1</rtnCode><notice>N</notice><available>A</available>"
                                     "<width>400</width><height>300</height></r>"));
  VersionInfo v = checkVersion();
  EXPECT_EQ(v.code, kVersionMismatch);
  EXPECT_EQ(v.notice, "N");
  EXPECT_EQ(v.available, "A");
  EXPECT_EQ(v.width, "400");
  EXPECT_EQ(v.height, "300");
  env.proxy().On("checkVersion", Xml("<?xml version=\"1.0\"?>"));
  v = checkVersion();
  EXPECT_EQ(v.code, kVersionNoRoot);
  EXPECT_EQ(v.notice, "");
}

TEST(ActionCatalogueTest, GetCnAsksOnceWhenFoundAndAgainWhenNot) {
  ProxyTestEnv env;
  env.UseSessionKey(kKey);
  env.proxy().On("getCn", Xml("<r><rtnCode>1</rtnCode></r>"));
  EXPECT_EQ(getCn("A123456789"), "");
  EXPECT_EQ(getCn("A123456789"), "");
  EXPECT_EQ(env.proxy().Count("getCn"), 2);

  env.proxy().On("getCn", Xml("<r><cn>A123456789-00</cn></r>"));  // no rtnCode test
  EXPECT_EQ(getCn("A123456789"), "A123456789-00");
  EXPECT_EQ(getCn("someone else"), "A123456789-00");
  EXPECT_EQ(env.proxy().Count("getCn"), 3);
  EXPECT_EQ(env.proxy().Requests("getCn")[0].fields.at("userId"), "A123456789");
  EXPECT_EQ(getSetting("cn"), "A123456789-00");
  EXPECT_EQ(env.proxy().Count("getSysCfg"), 1);
}

}  // namespace
}  // namespace quil::proxy
