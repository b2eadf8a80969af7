#include <gtest/gtest.h>

#include "base/settings.h"
#include "fake_proxy.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/text_codec.h"
#include "proxy/settings_loader.h"

namespace quil {
namespace {

using testing::ProxyTestEnv;
using testing::Raw;
using testing::Xml;

TEST(SettingsTest, LocalDerivations) {
  struct Case {
    const char* name;
    FieldMap proxy;
    std::string desktop;
    FieldMap expected;  // entries checked
  } kCases[] = {
      {"placeholders, #cn# always empty",
       {{"default.pfxFilePath", "#userHome#/Documents"}, {"default.pfxFileName", "#cn#.pfx"}},
       "/home/u/Desktop",
       {{"env.userPfxFilePath", "/home/u/Documents/.pfx"}}},
      {"folder ending in a separator gets no second one",
       {{"default.pfxFilePath", "#desktop#/"}, {"default.pfxFileName", "#userId#-#userHome#.p12"}, {"userId", "U7"}},
       "/home/u/Desktop",
       {{"env.userPfxFilePath", "/home/u/Desktop/U7-/home/u.p12"}}},
      {"a value with $ survives the replacement",
       {{"default.pfxFilePath", "#userHome#"}, {"default.pfxFileName", "a.p12"}},
       "",
       {{"env.userPfxFilePath", "/home/$1/a.p12"}}},
      {"desktop elsewhere keeps its last element under home", {}, "/mnt/d/Desk",
       {{"env.userDeskTop", "/home/u/Desk"}}},
      {"no desktop gives home", {}, "", {{"env.userDeskTop", "/home/u"}}},
      {"proxy values of local keys are overwritten",
       {{"cn", "X"}, {"env.userHome", "Y"}, {"userIdno", "Z"}, {"env.userPfxFilePwd", "W"}},
       "/home/u/Desktop",
       {{"cn", ""}, {"env.userHome", "/home/u"}, {"userIdno", ""}, {"env.userPfxFilePwd", ""},
        {"env.userPrivateKeyFolder", "/home/u/MERO"}}},
      {"store order ieCertStore,pfx", {{"cert.expType", "ieCertStore,pfx"}, {"cert.readOrder", "pfx"}}, "",
       {{"env.write.primaryCertStore", "ieCertStore"}, {"env.write.secondaryCertStore", "pfx"},
        {"env.read.primaryCertStore", "pfx"}, {"env.read.secondaryCertStore", ""}}},
      {"store order pfx,pfx", {{"cert.expType", "pfx,pfx"}}, "",
       {{"env.write.primaryCertStore", "pfx"}, {"env.write.secondaryCertStore", "pfx"}}},
      {"three parts give nothing", {{"cert.expType", "a,b,c"}, {"cert.readOrder", "pfx,pfx,pfx"}}, "",
       {{"env.write.primaryCertStore", ""}, {"env.write.secondaryCertStore", ""},
        {"env.read.primaryCertStore", ""}, {"env.read.secondaryCertStore", ""}}},
      {"a space after the comma is not a store name", {{"cert.expType", "pfx, ieCertStore"}}, "",
       {{"env.write.primaryCertStore", "pfx"}, {"env.write.secondaryCertStore", ""}}},
      {"leading comma", {{"cert.expType", ",pfx"}}, "",
       {{"env.write.primaryCertStore", ""}, {"env.write.secondaryCertStore", ""}}},
      {"unknown names", {{"cert.expType", "file,ieCertStore"}}, "",
       {{"env.write.primaryCertStore", ""}, {"env.write.secondaryCertStore", "ieCertStore"}}},
      // The operator writes paths for Windows clients.
      {"windows separators in the path settings",
       {{"default.pfxFilePath", "#userHome#\\Documents"}, {"default.pfxFileName", "sub\\a.p12"}},
       "",
       {{"env.userPfxFilePath", "/home/u/Documents/sub/a.p12"},
        {"default.pfxFilePath", "#userHome#/Documents"},
        {"default.pfxFileName", "sub/a.p12"}}},
      {"a folder ending in a windows separator gets no second one",
       {{"default.pfxFilePath", "#desktop#\\"}, {"default.pfxFileName", "a.p12"}},
       "/home/u/Desktop",
       {{"env.userPfxFilePath", "/home/u/Desktop/a.p12"}}},
      // 許 is B3 5C and 功 A5 5C: their second byte is no separator.
      {"double-byte characters keep their second byte",
       {{"default.pfxFilePath", platform::ToNarrow("#userHome#\\許可")},
        {"default.pfxFileName", platform::ToNarrow("成功.p12")}},
       "",
       {{"env.userPfxFilePath", platform::ToNarrow("/home/u/許可/成功.p12")}}},
      {"other settings keep their backslashes",
       {{"pfx.pwd.prompt", "a\\b"}, {"depCert.templateUrl", "https://x/a\\b"}},
       "",
       {{"pfx.pwd.prompt", "a\\b"}, {"depCert.templateUrl", "https://x/a\\b"}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string home = std::string(c.name).find('$') != std::string::npos ? "/home/$1" : "/home/u";
    FieldMap out = CompleteSettings(c.proxy, home, c.desktop, '/');
    for (const auto& [key, value] : c.expected) EXPECT_EQ(FieldOf(out, key), value) << key;
  }
}

// On Windows the paths the program works out are written with "\\", as the
// customer reads them.
TEST(SettingsTest, LocalDerivationsWithWindowsSeparators) {
  struct Case {
    const char* name;
    FieldMap proxy;
    std::string desktop;
    FieldMap expected;
  } kCases[] = {
      {"placeholders", {{"default.pfxFilePath", "#userHome#\\Documents"}, {"default.pfxFileName", "#cn#.pfx"}},
       "C:\\Users\\u\\Desktop",
       {{"env.userPfxFilePath", "C:\\Users\\u\\Documents\\.pfx"}, {"env.userDeskTop", "C:\\Users\\u\\Desktop"},
        {"env.userHome", "C:\\Users\\u"}, {"env.userPrivateKeyFolder", "C:\\Users\\u\\MERO"}}},
      {"a folder ending in a separator gets no second one",
       {{"default.pfxFilePath", "#desktop#\\"}, {"default.pfxFileName", "a.p12"}}, "C:\\Users\\u\\Desktop",
       {{"env.userPfxFilePath", "C:\\Users\\u\\Desktop\\a.p12"}}},
      {"slashes in the operator's path become backslashes",
       {{"default.pfxFilePath", "#userHome#/certs/"}, {"default.pfxFileName", "sub/a.p12"}}, "",
       {{"env.userPfxFilePath", "C:\\Users\\u\\certs\\sub\\a.p12"}}},
      {"a desktop on another drive stays under the profile", {}, "D:\\Desk",
       {{"env.userDeskTop", "C:\\Users\\u\\Desk"}}},
      // 許 is B3 5C: a folder named with it does not end in a separator.
      {"a folder ending in a double-byte character",
       {{"default.pfxFilePath", platform::ToNarrow("#userHome#\\許")}, {"default.pfxFileName", "a.p12"}}, "",
       {{"env.userPfxFilePath", platform::ToNarrow("C:\\Users\\u\\許\\a.p12")}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    FieldMap out = CompleteSettings(c.proxy, "C:\\Users\\u", c.desktop, '\\');
    for (const auto& [key, value] : c.expected) EXPECT_EQ(FieldOf(out, key), value) << key;
  }
}

TEST(SettingsTest, LoadedOnceFromTheProxy) {
  ProxyTestEnv env;
  env.proxy().On("getSysCfg", Xml("<r><rtnCode>1</rtnCode><pfx.pwd.minLen>8</pfx.pwd.minLen></r>"));
  EXPECT_EQ(getSetting("pfx.pwd.minLen"), "");
  EXPECT_EQ(getSetting("pfx.pwd.minLen"), "");
  EXPECT_EQ(env.proxy().Count("getSysCfg"), 2);  // a failed load is retried by the next lookup

  env.proxy().On("getSysCfg", Xml("<r><rtnCode>0</rtnCode><rtnMsg>ok</rtnMsg><pfx.pwd.minLen>8</pfx.pwd.minLen>"
                                  "<app.dlUrl/><a>1</a><a>2</a><default.pfxFilePath>#userHome#/certs"
                                  "</default.pfxFilePath><default.pfxFileName>\xA4\xA4.p12</default.pfxFileName>"
                                  "</r>"));
  EXPECT_EQ(getSetting("pfx.pwd.minLen"), "8");
  EXPECT_EQ(getSetting("a"), "2");
  EXPECT_EQ(getSetting("rtnMsg"), "");
  EXPECT_EQ(getSetting("app.dlUrl"), "");
  // Written as the platform writes paths (C:\\Users\\u\\certs on Windows).
  const std::string home = platform::WithPreferredSeparators(env.home());
  const std::string sep(1, platform::PreferredSeparator());
  EXPECT_EQ(getSetting("env.userHome"), home);
  EXPECT_EQ(getSetting("env.userPfxFilePath"), home + sep + "certs" + sep + "\xA4\xA4.p12");
  EXPECT_EQ(getSetting("env.userDeskTop"), home + sep + "Desktop");
  EXPECT_EQ(getSetting("env.userPrivateKeyFolder"), home + sep + "MERO");
  EXPECT_EQ(getSetting("no.such.key"), "");
  EXPECT_EQ(env.proxy().Count("getSysCfg"), 3);
  EXPECT_EQ(env.proxy().Requests("getSysCfg")[0].fields, (std::map<std::string, std::string>{{"version", "1.9"}}));

  setSetting("cn", "C1");
  EXPECT_EQ(getSetting("cn"), "C1");
  EXPECT_EQ(env.proxy().Count("getSysCfg"), 3);
}

// An entry written while the proxy could not be reached is no load: the
// operator's settings are fetched by the next lookup, and the entry stays.
TEST(SettingsTest, AWriteAfterAFailedLoadDoesNotCountAsLoaded) {
  ProxyTestEnv env;
  env.proxy().On("getSysCfg", Raw(500, ""));
  EXPECT_EQ(getSetting("cn"), "");
  setSetting("userIdno", "A123456789");
  EXPECT_EQ(env.proxy().Count("getSysCfg"), 1);

  env.proxy().On("getSysCfg", Xml("<r><rtnCode>0</rtnCode><pfx.pwd.minLen>8</pfx.pwd.minLen></r>"));
  EXPECT_EQ(getSetting("pfx.pwd.minLen"), "8");
  EXPECT_EQ(env.proxy().Count("getSysCfg"), 2);
  EXPECT_EQ(getSetting("userIdno"), "A123456789") << "the earlier write is newer than the load";
  EXPECT_EQ(getSetting("env.userPrivateKeyFolder"), env.home() + "/MERO");
  EXPECT_EQ(getSetting("pfx.pwd.minLen"), "8");
  EXPECT_EQ(env.proxy().Count("getSysCfg"), 2);
}

TEST(SettingsTest, AcceptedReplyWithoutFieldsStillLoads) {
  ProxyTestEnv env;
  env.proxy().On("getSysCfg", Xml("<r><rtnCode>0</rtnCode></r>"));
  EXPECT_EQ(getSetting("depCert.mode"), "");
  EXPECT_EQ(getSetting("env.userPrivateKeyFolder"), env.home() + "/MERO");
  EXPECT_EQ(env.proxy().Count("getSysCfg"), 1);
}

}  // namespace
}  // namespace quil
