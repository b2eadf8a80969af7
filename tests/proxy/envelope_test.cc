#include <gtest/gtest.h>

#include "fake_proxy.h"
#include "proxy/envelope.h"

namespace quil::proxy {
namespace {

using testing::ProxyTestEnv;
using testing::Xml;

const std::string kKey = "0123456789abcdefEXTRA";  // only the first 16 bytes count

TEST(EnvelopeTest, PublicKeyEnvelopeRoundTrip) {
  ProxyTestEnv env;
  env.proxy().On("qryBranch", Xml("<r><rtnCode>0</rtnCode><name>\xA4\xA4</name></r>"));
  FieldMap fields = {{"id", "A123456789"}, {"empty", ""}, {"big5", "\xA4\xA4\xA4\xE5"},
                     {"long", std::string(300, 'x')}, {"max", std::string(245, 'm')}};
  SealedReply reply = postRsa(proxyUrl("qryBranch"), fields);
  ASSERT_EQ(reply.result, 0);
  EXPECT_EQ(reply.text, "<r><rtnCode>0</rtnCode><name>\xA4\xA4</name></r>");

  auto seen = env.proxy().Requests("qryBranch");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].content_type, "application/x-www-form-urlencoded; charset: UTF-8");
  EXPECT_EQ(seen[0].field_order, (std::vector<std::string>{"big5", "id", "long", "max"}));
  EXPECT_EQ(seen[0].fields.at("id"), "A123456789");
  EXPECT_EQ(seen[0].fields.at("big5"), "\xA4\xA4\xA4\xE5");
  EXPECT_EQ(seen[0].fields.at("max"), std::string(245, 'm'));
  EXPECT_EQ(seen[0].sealed.at("long"), "");  // too long for one block: sent empty
  EXPECT_EQ(seen[0].sealed.at("id").size(), 344u);  // base64 of 256 bytes
}

TEST(EnvelopeTest, SessionEnvelopeRoundTrip) {
  ProxyTestEnv env;
  env.UseSessionKey(kKey);
  env.proxy().On("verifyPwBag", Xml("<r><rtnCode>0</rtnCode></r>"));
  SealedReply reply = postAes(sessionKey(), proxyUrl("verifyPwBag"),
                              {{"pw", "secret pw"}, {"trash", ""}, {"id", "\xA4\xA4"}});
  ASSERT_EQ(reply.result, 0);
  EXPECT_EQ(reply.text, "<r><rtnCode>0</rtnCode></r>");
  auto seen = env.proxy().Requests("verifyPwBag");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].field_order, (std::vector<std::string>{"id", "pw", "trash"}));
  EXPECT_EQ(seen[0].fields.at("pw"), "secret pw");
  EXPECT_EQ(seen[0].fields.at("id"), "\xA4\xA4");
  EXPECT_EQ(seen[0].sealed.at("trash"), "");
  EXPECT_NE(seen[0].body.find("trash=") , std::string::npos);
}

TEST(EnvelopeTest, SessionKeyShorterThan16BytesSendsNothing) {
  ProxyTestEnv env;
  for (const std::string& key : {std::string(), std::string("short")}) {
    SealedReply reply = postAes(key, proxyUrl("iAmAlive"), {{"version", "1.9"}});
    EXPECT_EQ(reply.result, 1);
  }
  EXPECT_EQ(env.proxy().Count("iAmAlive"), 0);
}

TEST(EnvelopeTest, RsaRepliesOpenBlockByBlock) {
  ProxyTestEnv env;
  const std::string a(245, 'a'), b(245, 'b'), c(100, 'c');
  struct Case {
    const char* name;
    testing::ScriptedReply reply;
    int result;
    std::string text;
  } kCases[] = {
      {"three blocks", Xml(a + b + c), 0, a + b + c},
      {"a middle block that does not open", [&] {
         auto r = Xml(a + b + c);
         r.bad_rsa_block = 1;
         return r;
       }(), 0, a + c},
      {"no block opens", [&] {
         auto r = Xml(c);
         r.bad_rsa_block = 0;
         return r;
       }(), 1, ""},
      {"cut at the first zero byte", Xml(std::string("<r/>\0<x/>", 9)), 0, "<r/>"},
      {"body that is not base64", testing::Raw(200, "!!!!"), 1, ""},
      {"status 500", testing::Raw(500, "x"), 1, ""},
      {"empty 200", testing::Raw(200, ""), 1, ""},
  };
  for (const auto& cs : kCases) {
    SCOPED_TRACE(cs.name);
    env.proxy().On("getSysCfg", cs.reply);
    SealedReply r = postRsa(proxyUrl("getSysCfg"), {{"version", "1.9"}});
    EXPECT_EQ(r.result, cs.result);
    if (cs.result == 0) {
      EXPECT_EQ(r.text, cs.text);
    }
  }
}

TEST(EnvelopeTest, AesRepliesThatDoNotOpen) {
  ProxyTestEnv env;
  env.UseSessionKey(kKey);
  struct Case {
    const char* name;
    testing::ScriptedReply reply;
    int result;
    std::string text;
  } kCases[] = {
      {"cut at zero", Xml(std::string("<r>1</r>\0tail", 13)), 0, "<r>1</r>"},
      {"wrong padding", testing::Raw(200, testing::OpenSslBase64(std::string(32, 'z'))), 1, ""},
      {"nothing decoded", testing::Raw(200, "===="), 1, ""},
  };
  for (const auto& cs : kCases) {
    SCOPED_TRACE(cs.name);
    env.proxy().On("doLogout", cs.reply);
    SealedReply r = postAes(sessionKey(), proxyUrl("doLogout"), {{"version", "1.9"}});
    EXPECT_EQ(r.result, cs.result);
    if (cs.result == 0) {
      EXPECT_EQ(r.text, cs.text);
    }
  }
  // A proxy that used another key: nothing opens.
  env.proxy().set_session_key("ffffffffffffffff");
  env.proxy().On("doLogout", Xml("<r/>"));
  EXPECT_EQ(postAes(sessionKey(), proxyUrl("doLogout"), {}).result, 1);
}

TEST(EnvelopeTest, MissingPublicKeySendsNothing) {
  ProxyTestEnv env;
  testing::ScopedEnv key("QUIL_PROXY_PUBKEY", env.home() + "/no-such.pem");
  SealedReply r = postRsa(proxyUrl("writeLog2"), {{"memo", "x"}});
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(env.proxy().Count("writeLog2"), 0);
}

}  // namespace
}  // namespace quil::proxy
