#include <gtest/gtest.h>

#include "app/method_table.h"
#include "base/result_codes.h"
#include "base/settings.h"
#include "fake_proxy.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/text_codec.h"
#include "proxy/actions.h"
#include "proxy/envelope.h"

namespace quil {
namespace {

using testing::ProxyTestEnv;
using testing::Raw;
using testing::Xml;

const char kOldKey[] = "OLDKEY0123456789";
const char kLoginReply[] =
    "<r><rtnCode>0</rtnCode><rtnMsg>ok</rtnMsg><aeskey>NEWKEY0123456789</aeskey><id>A123456789</id>"
    "<name>\xA4\xA4</name><extraMsg>welcome</extraMsg></r>";

MethodReply Call(const char* name, std::vector<std::string> args) {
  const MethodEntry* m = FindMethod(name);
  EXPECT_NE(m, nullptr) << name;
  return RunMethod(*m, args);
}

std::vector<std::string> ProgressTexts(const ui::ScriptedUi& ui) {
  std::vector<std::string> out;
  for (const auto& v : ui.progress) out.push_back(v.text);
  return out;
}

// Address services on the fake proxy's origin, answering 10.1.2.3.
std::unique_ptr<testing::ScopedEnv> UseAddressService(ProxyTestEnv& env) {
  env.proxy().On("/ip", Raw(200, "10.1.2.3\n"));
  return std::make_unique<testing::ScopedEnv>("QUIL_IP_SERVICES", env.proxy().origin() + "/ip");
}

TEST(LoginTest, SuccessfulLogin) {
  ProxyTestEnv env;
  auto ip = UseAddressService(env);
  env.proxy().On("doLogin", Xml(kLoginReply));

  proxy::LoginResult r = proxy::doLogin("acct01", "pw \xA4\xA4");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.extraMsg, "welcome");
  EXPECT_EQ(FieldOf(r.result, "aeskey"), "NEWKEY0123456789");
  EXPECT_EQ(FieldOf(r.result, "rtnCode"), "0");
  EXPECT_EQ(FieldOf(r.result, "extraMsg"), "welcome");
  EXPECT_EQ(proxy::sessionKey(), "NEWKEY0123456789");
  EXPECT_EQ(getSetting("userIdno"), "A123456789");
  EXPECT_EQ(env.proxy().Count("getSysCfg"), 1);

  auto seen = env.proxy().Requests("doLogin");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].fields, (std::map<std::string, std::string>{
                                {"aid", "acct01"}, {"clientIP", "10.1.2.3"}, {"pw", "pw \xA4\xA4"}}));
  EXPECT_EQ(ProgressTexts(env.ui()),
            (std::vector<std::string>{"登入作業進行中, 請稍候 ...", "正在接收伺服器端回應 ...",
                                      "正在解析登入結果資訊 ...", "登入作業已完成"}));
  EXPECT_EQ(env.ui().progress[0].title, "登入");
  EXPECT_EQ(env.ui().hides, 1);
  // Each step stays 100 ms, the reply's two steps half a second more, the
  // closing text a second.
  using ms = Milliseconds;
  EXPECT_EQ(env.pauses(), (std::vector<ms>{ms(100), ms(100), ms(500), ms(100), ms(500), ms(1000)}));

  // A second login in the same process does not load the settings again.
  (void)proxy::doLogin("acct01", "pw");
  EXPECT_EQ(env.proxy().Count("getSysCfg"), 1);
}

TEST(LoginTest, RefusalsKeepTheOldKey) {
  ProxyTestEnv env;
  env.UseSessionKey(kOldKey);
  struct Case {
    const char* name;
    testing::ScriptedReply reply;
    int code;
    FieldMap result;
  } kCases[] = {
      {"refused 1001", Xml("<r><rtnCode>1001</rtnCode><rtnMsg>\xB1\x4B\xBD\x58</rtnMsg><aeskey>X</aeskey></r>"),
       kLoginRefused, {{"rtnCode", "1001"}, {"rtnMsg", "\xB1\x4B\xBD\x58"}}},
      {"malformed", Xml("<r>"), kLoginReplyUnreadable, {}},
      {"no root", Xml("<?xml version=\"1.0\"?>"), kLoginReplyUnreadable, {}},
      {"status 500", Raw(500, ""), 1, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    env.proxy().On("doLogin", c.reply);
    env.ui().progress.clear();
    proxy::LoginResult r = proxy::doLogin("acct01", "pw");
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.result, c.result);
    EXPECT_EQ(proxy::sessionKey(), kOldKey);
    EXPECT_EQ(ProgressTexts(env.ui()).back(), "登入失敗");
  }
}

TEST(LoginTest, EmptyPasswordStopsAfterAddressDiscovery) {
  ProxyTestEnv env;
  auto ip = UseAddressService(env);
  struct Case {
    const char* name;
    const char* aid;
    const char* pw;
    int code;
  } kCases[] = {{"no password", "acct01", "", kPasswordEmpty}, {"no login name", "", "pw", kAccountEmpty}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    env.ui().progress.clear();
    const int asked = env.proxy().Count("/ip");
    EXPECT_EQ(proxy::doLogin(c.aid, c.pw).code, c.code);
    EXPECT_EQ(env.proxy().Count("/ip"), asked + 1);
    EXPECT_EQ(ProgressTexts(env.ui()), (std::vector<std::string>{"登入作業進行中, 請稍候 ...", "登入失敗"}));
  }
  EXPECT_EQ(env.proxy().Count("doLogin"), 0);
}

TEST(SessionMethodsTest, RepliesToThePage) {
  ProxyTestEnv env;
  auto& p = env.proxy();
  p.On("doLogin", Xml(kLoginReply));
  p.On("getSysCfg", Xml("<r><rtnCode>0</rtnCode><default.pfxFilePath>#userHome#\\x</default.pfxFilePath>"
                        "<default.pfxFileName>c.p12</default.pfxFileName></r>"));

  EXPECT_EQ(Call("doLogin", {"acct01", "pw"}).text,
            "{'errCode':'0','errMsg':'','aeskey':'NEWKEY0123456789','extraMsg':'welcome','id':'A123456789',"
            "'name':'中','rtnCode':'0','rtnMsg':'ok','extraMsg':'welcome'}");
  p.set_session_key("NEWKEY0123456789");

  p.On("doLogin", Xml("<r><rtnCode>1001</rtnCode><rtnMsg>no</rtnMsg><extraMsg>e</extraMsg></r>"));
  EXPECT_EQ(Call("doLogin", {"acct01", "pw"}).text,
            "{'errCode':'53907','errMsg':'<53907>使用者登入失敗','rtnCode':'1001','rtnMsg':'no','extraMsg':'e'}");

  p.On("qryBranch", Xml("<r><rtnCode>0</rtnCode><branch>9A</branch></r>"));
  EXPECT_EQ(Call("qryBranchInfo", {"A1"}).text, "{'errCode':'0','errMsg':'','branch':'9A'}");
  p.On("qryBranchAll", Xml("<r><rtnCode>7</rtnCode><branch>9A</branch></r>"));
  EXPECT_EQ(Call("qryBranchAll", {}).text.rfind("{'errCode':'54411','errMsg':'<54411>", 0), 0u);
  EXPECT_EQ(Call("qryBranchAll", {}).text.find("branch"), std::string::npos);

  p.On("verifyOnlinePw", Xml("<r><rtnCode>0</rtnCode><rtnMsg>m</rtnMsg><pwid>P1</pwid></r>"));
  EXPECT_EQ(Call("verifyOnlinePw", {"id", "aid", "pw", "revoke"}).text,
            "{'errCode':'0','errMsg':'','rtnCode':'0','rtnMsg':'m','pwid':'P1'}");
  p.On("getOnlinePw", Xml("<r><rtnCode>0</rtnCode><onlinepw>R</onlinepw><createtime>T</createtime></r>"));
  EXPECT_EQ(Call("getOnlinePw", {"id", "aid", "1", "a@b", "19800101", "x"}).text,
            "{'errCode':'0','errMsg':'','onlinePw':'R','createTime':'T','rtnCode':'0','rtnMsg':''}");
  p.On("verifyPwBag", Xml("<r><rtnCode>0</rtnCode><rtnMsg>m</rtnMsg></r>"));
  EXPECT_EQ(Call("verifyPwBag", {"id", "aid", "pw"}).text, "{'errCode':'0','errMsg':'','rtnCode':'0','rtnMsg':'m'}");
  p.On("changePw", Xml("<r><rtnCode>0</rtnCode><extraMsg>x</extraMsg></r>"));
  EXPECT_EQ(Call("changePw", {"acct01", "old", "new"}).text, "{'errCode':'0','errMsg':'','extraMsg':'x'}");

  // The path as the platform writes it, each backslash doubled: on Windows
  // C:\\Users\\u\\x\\c.p12.
  const std::string home = platform::WithPreferredSeparators(env.home());
  const std::string sep(1, platform::PreferredSeparator());
  auto doubled = [](std::string path) { return ReplaceAll(std::move(path), "\\", "\\\\"); };
  EXPECT_EQ(Call("getClientPfxFilePath", {}).text,
            "{'errCode':'0','errMsg':'','pfxFilePath':'" + doubled(home + sep + "x" + sep + "c.p12") +
                "','pfxFileExist':'N'}");
  testing::WriteFileForTest(env.home() + "/x/c.p12", "p12");
  EXPECT_NE(Call("getClientPfxFilePath", {}).text.find("'pfxFileExist':'Y'"), std::string::npos);
  // A backslash of its own is doubled; 功 (A5 5C) stays whole.
  setSetting("env.userPfxFilePath", platform::ToNarrow(env.home() + "/a\\成功.p12"));
  EXPECT_EQ(Call("getClientPfxFilePath", {}).text,
            "{'errCode':'0','errMsg':'','pfxFilePath':'" + doubled(env.home()) + "/a\\\\成功.p12','pfxFileExist':'N'}");

  Call("iAmAlive", {});
  Call("writeLog", {"id", "aid", "9", "9000"});
  Call("writeLog2", {"id", "aid", "9", "9001"});
  EXPECT_EQ(p.Requests("writeLog")[0].fields.at("memo"), "9000");
  EXPECT_EQ(p.Requests("writeLog2")[0].fields.at("memo"), "9001");
  EXPECT_EQ(p.Count("iAmAlive"), 1);

  p.On("doLogout", Xml("<r><rtnCode>1</rtnCode></r>"));
  EXPECT_EQ(Call("doLogout", {"ignored"}).value, static_cast<std::int16_t>(kLogoutFailed));
  EXPECT_EQ(proxy::sessionKey(), "NEWKEY0123456789");
  p.On("doLogout", Xml("<r><rtnCode>0</rtnCode></r>"));
  EXPECT_EQ(Call("doLogout", {"ignored"}).value, 0);
  EXPECT_EQ(proxy::sessionKey(), "");
  EXPECT_EQ(getSetting("userIdno"), "A123456789");  // a logout keeps the settings
}

TEST(SessionMethodsTest, CommonNameStepRunsBeforeMarkedMethods) {
  ProxyTestEnv env;
  env.UseSessionKey(kOldKey);
  env.proxy().On("getCn", Xml("<r><cn>CN-1</cn></r>"));
  env.proxy().On("getFnStatus", Xml("<r><rtnCode>0</rtnCode></r>"));
  (void)Call("getFnStatus", {"A123456789"});
  ASSERT_EQ(env.proxy().Count("getCn"), 1);
  EXPECT_EQ(env.proxy().Requests("getCn")[0].fields.at("userId"), "A123456789");
  ASSERT_EQ(env.proxy().Count("getFnStatus"), 1);
  EXPECT_EQ(env.proxy().Requests("getFnStatus")[0].fields.at("cn"), "CN-1");
}

}  // namespace
}  // namespace quil
