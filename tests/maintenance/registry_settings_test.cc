// The operator's registry settings: getClientReg and setClientReg against
// a proxy that answers getRegSet, on a fresh hive.
#include "maintenance/registry_settings.h"

#include <gtest/gtest.h>

#include "app/method_table.h"
#include "base/result_codes.h"
#include "platform/registry.h"
#include "proxy/fake_proxy.h"
#include "proxy_replies.h"

namespace quil {
namespace {

using platform::CurrentUserHive;
using platform::RegType;
using testing::ProxyTestEnv;
using testing::RegSetReply;
using testing::SysCfgReply;
using testing::Xml;

constexpr char kKey[] = "Software\\Test\\Zones\\2";
constexpr char kCodeBase[] = "https://op.example/MeroCpnt.cab#version=1,0,0,2";

void ServeSettings(ProxyTestEnv& env) {
  env.proxy().On("getSysCfg", Xml(SysCfgReply({{"component.activeX.classId32", "6D3F9A1C-2B4E-4C7A-9E51-7A2B3C4D5E6F"},
                                               {"component.activeX.version32", "1,0,0,2"},
                                               {"component.activeX.codeBase32", kCodeBase}})));
}

std::string CallMethod(const char* name) { return RunMethod(*FindMethod(name), {}).text; }

TEST(RegistrySettingsTest, SetClientRegWritesWhatTheOperatorPrescribes) {
  ProxyTestEnv env;
  ServeSettings(env);
  env.proxy().On("getRegSet", Xml(RegSetReply({
                                  {"R1", kKey, "Digits", "2", "DW", "plain number"},
                                  {"R2", kKey, "Trailing", "2abc", "DW", "atoi stops at the letter"},
                                  {"R3", kKey, "Blanks", "  +17", "DW", "blanks and a sign first"},
                                  {"R4", kKey, "Negative", "-1", "DW", "two's complement"},
                                  {"R5", kKey, "Letters", "abc", "DW", "no number at all"},
                                  {"R6", kKey, "Huge", "99999999999", "DW", "clamped to the int range"},
                                  {"S1", kKey, "Text", "信任的網站", "SZ", "a string item"},
                                  {"S2", "Software\\Deep\\New\\Key", "Any", "x", "anything", "any other type"},
                                  {"X1", kKey, "NoType", "1", "", "an empty type is ignored"},
                                  {"X2", kKey, "NoValue", "", "DW", "an empty value is ignored"},
                                  {"X3", "", "NoPath", "1", "DW", "an empty path is ignored"},
                              })));
  EXPECT_EQ(CallMethod("setClientReg"), "{'errCode':'0'}");

  auto& hive = CurrentUserHive();
  struct Want {
    const char* name;
    std::uint32_t dword;
  } dwords[] = {{"Digits", 2},     {"Trailing", 2},          {"Blanks", 17},
                {"Negative", 0xFFFFFFFF}, {"Letters", 0}, {"Huge", 2147483647}};
  for (const auto& w : dwords) {
    SCOPED_TRACE(w.name);
    auto v = hive.QueryValue(kKey, w.name);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->type, RegType::kDword);
    EXPECT_EQ(v->dword, w.dword);
  }
  EXPECT_EQ(hive.QueryValue(kKey, "Text")->data, "信任的網站");
  EXPECT_EQ(hive.QueryValue(kKey, "Text")->type, RegType::kSz);
  EXPECT_EQ(hive.QueryValue("Software\\Deep\\New\\Key", "Any")->type, RegType::kSz) << "missing keys are created";
  for (const char* ignored : {"NoType", "NoValue", "NoPath"}) EXPECT_FALSE(hive.QueryValue(kKey, ignored)) << ignored;
}

TEST(RegistrySettingsTest, GetClientRegReportsWhatIsThereNextToWhatIsRequired) {
  ProxyTestEnv env;
  ServeSettings(env);
  auto& hive = CurrentUserHive();
  ASSERT_EQ(hive.CreateKey(kKey), platform::kRegSuccess);
  hive.SetValue(kKey, platform::RegDword("1201", 3));
  hive.SetValue(kKey, platform::RegSz("Site", "example.com"));
  hive.SetValue(kKey, platform::RegSz("Wrong", "not a number"));
  hive.SetValue(kKey, platform::RegDword("NumberForText", 5));
  env.proxy().On("getRegSet", Xml(RegSetReply({
                                  {"R1", kKey, "1201", "0", "DW", "a DWORD found"},
                                  {"R2", kKey, "1001", "0", "DW", "a DWORD missing"},
                                  {"R3", kKey, "wrong", "0", "DW", "a string where a DWORD belongs"},
                                  {"T1", "Software\\Not\\There", "https", "2", "DW", "its key does not exist"},
                                  {"S1", kKey, "SITE", "example.com", "SZ", "a string found"},
                                  {"S2", kKey, "Missing", "x", "SZ", "a string missing"},
                                  {"S3", kKey, "NumberForText", "5", "SZ", "a DWORD where a string belongs"},
                                  {"D1", kKey, "1201", "1", "DW", "replaced by the later item"},
                                  {"D1", kKey, "1201", "9", "DW", "the later item"},
                                  {"", kKey, "1201", "0", "DW", ""},
                                  {"X1", kKey, "1201", "0", "", "an empty type is ignored"},
                                  {"A1", kKey, "1201", "0", "DW", "the component entry replaces it"},
                              })));
  ClientRegCheck check = getClientReg();
  EXPECT_EQ(check.code, 0);
  EXPECT_EQ(check.entries, (FieldMap{
                               {"", "3#0#"},
                               {"A1", std::string("0#1#") + kCodeBase},
                               {"D1", "3#9#the later item"},
                               {"R1", "3#0#a DWORD found"},
                               {"R2", "#0#a DWORD missing"},
                               {"R3", "#0#a string where a DWORD belongs"},
                               {"S1", "example.com#example.com#a string found"},
                               {"S2", "#x#a string missing"},
                               {"S3", "#5#a DWORD where a string belongs"},
                               {"T1", "0#2#its key does not exist"},
                           }));
  EXPECT_FALSE(hive.KeyExists("Software\\Not\\There")) << "reading creates nothing";
}

// Texts read from the hive are narrowed as every text from outside is:
// what code page 950 lacks becomes "?", never a look-alike, in both
// methods that read them.
TEST(RegistrySettingsTest, GetClientRegAndGetLoginInfoNarrowTheHiveAlike) {
  struct Case {
    const char* name;
    const char* stored;
    const char* read;
  } kCases[] = {
      {"traditional chinese", "台北分公司", "台北分公司"},
      {"accented letter", "caf\u00e9", "caf?"},
      {"sharp s", "stra\u00dfe", "stra?e"},
      {"full-width quotation mark", "a\uff02b", "a?b"},
      {"full-width apostrophe", "a\uff07b", "a?b"},
      {"yen sign", "\u00a5100", "?100"},
  };
  constexpr char kLoginKey[] = "Software\\MERO\\QUIL\\PELISecuritiesLoginInfo";
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ProxyTestEnv env;
    ServeSettings(env);
    auto& hive = CurrentUserHive();
    ASSERT_EQ(hive.CreateKey(kKey), platform::kRegSuccess);
    hive.SetValue(kKey, platform::RegSz("Site", c.stored));
    env.proxy().On("getRegSet", Xml(RegSetReply({{"S1", kKey, "Site", "x", "SZ", "d"}})));
    EXPECT_EQ(CallMethod("getClientReg"),
              std::string("{'errCode':'0','errMsg':'','A1':'0#1#") + kCodeBase + "','S1':'" + c.read + "#x#d'}");
    ASSERT_EQ(hive.CreateKey(kLoginKey), platform::kRegSuccess);
    hive.SetValue(kLoginKey, platform::RegSz("Branch", c.stored));
    EXPECT_EQ(CallMethod("getLoginInfo"),
              std::string("{'errCode':'0','type':'','value':'','branch':'") + c.read + "'}");
  }
}

TEST(RegistrySettingsTest, TheComponentEntryAlsoWithoutItems) {
  ProxyTestEnv env;
  ServeSettings(env);
  env.proxy().On("getRegSet", Xml(RegSetReply({})));
  EXPECT_EQ(CallMethod("getClientReg"), std::string("{'errCode':'0','errMsg':'','A1':'0#1#") + kCodeBase + "'}");
}

TEST(RegistrySettingsTest, AMissingKeyIsReportedZeroAndThenCreated) {
  ProxyTestEnv env;
  ServeSettings(env);
  env.proxy().On("getRegSet", Xml(RegSetReply({{"T1", "Software\\Sites\\localhost", "https", "2", "DW", "site"}})));
  EXPECT_EQ(getClientReg().entries["T1"], "0#2#site");
  EXPECT_EQ(setClientReg(), 0);
  EXPECT_EQ(getClientReg().entries["T1"], "2#2#site");
}

TEST(RegistrySettingsTest, RepliesThatCannotBeUsed) {
  struct Case {
    const char* name;
    testing::ScriptedReply reply;
    int code;
  } cases[] = {
      {"refused", Xml("<result><rtnCode>1</rtnCode><rtnMsg>no</rtnMsg></result>"), kRegSetRefused},
      {"without rtnCode", Xml("<result><item1><regPath>Software\\A</regPath></item1></result>"), kRegSetRefused},
      {"no root element", Xml("<?xml version=\"1.0\"?><!-- nothing -->"), kRegSetRefused},
      {"not XML", Xml("<result><rtnCode>0</rtnCode>"), kRegSetReplyUnreadable},
      {"an empty reply", testing::Raw(200, ""), kRegSetReplyUnreadable},
      {"an HTTP failure", testing::Raw(500, ""), kRegSetReplyUnreadable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ProxyTestEnv env;
    ServeSettings(env);
    env.proxy().On("getRegSet", c.reply);
    EXPECT_EQ(CallMethod("setClientReg"), "{'errCode':'" + std::to_string(c.code) + "'}");
    EXPECT_EQ(CallMethod("getClientReg"), "{'errCode':'" + std::to_string(c.code) + "','errMsg':''}");
    EXPECT_FALSE(CurrentUserHive().KeyExists("Software\\A"));
  }
}

}  // namespace
}  // namespace quil
