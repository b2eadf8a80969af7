// getFnStatus and the certificate queries against the demo proxy.
#include <gtest/gtest.h>

#include <openssl/pkcs12.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <stdio.h>
#include <stdlib.h>

#include <functional>

#include "base/files.h"
#include "base/result_codes.h"
#include "base/settings.h"
#include "demo_bench.h"
#include "platform/environment.h"
#include "platform/text_codec.h"
#include "workflow_test_util.h"

namespace quil::testing {
namespace {

const char kPassword[] = "abc123";

// A PKCS#12 file that opens with `password` but holds only a key.
std::string KeyOnlyPkcs12(const char* password) {
  EVP_PKEY* key = EVP_RSA_gen(2048);
  PKCS12* p12 = PKCS12_create(password, nullptr, key, nullptr, nullptr, 0, 0, 0, 0, 0);
  unsigned char* der = nullptr;
  int n = p12 ? i2d_PKCS12(p12, &der) : 0;
  std::string bytes(reinterpret_cast<char*>(der), n > 0 ? static_cast<size_t>(n) : 0);
  OPENSSL_free(der);
  PKCS12_free(p12);
  EVP_PKEY_free(key);
  return bytes;
}

// "AB:01:..." over the DER of the file's user certificate.
std::string Sha256OfUserCert(const std::string& pkcs12_der, const char* password) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(pkcs12_der.data());
  PKCS12* p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(pkcs12_der.size()));
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  std::string text;
  if (p12 && PKCS12_parse(p12, password, &key, &cert, nullptr) == 1 && cert) {
    unsigned char* der = nullptr;
    int n = i2d_X509(cert, &der);
    unsigned char digest[32];
    SHA256(der, static_cast<size_t>(n), digest);
    OPENSSL_free(der);
    char byte[4];
    for (unsigned char b : digest) {
      std::snprintf(byte, sizeof byte, "%s%02X", text.empty() ? "" : ":", b);
      text += byte;
    }
  }
  X509_free(cert);
  EVP_PKEY_free(key);
  PKCS12_free(p12);
  return text;
}

// Applies with the file store and saves the certificate at `path`.
void InstallWithFile(DemoSession& s, const std::string& path) {
  auto issued = ReplyFields(s.Call("crtNewCert2", {s.customer.idno, ""}));
  ASSERT_EQ(issued["errCode"], "0");
  ASSERT_EQ(s.Call("savePfx2", {issued["applyId"], issued["b64Cert"], path, kPassword}),
            "{'errCode':'0','errMsg':''}");
  s.ClearUi();
  s.bench().ClearCalls();
}

TEST(FunctionStatus, RepliesWithStatusAndCounts) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  EXPECT_EQ(s.Call("getFnStatus", {s.customer.idno}),
            "{'errCode':'0','errMsg':'','fnStatus':'10000','certCount':'0','effectCertCount':'0'}");
  auto calls = s.bench().CallsOf("getFnStatus");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].Field("cn"), s.customer.cn);

  InstallWithFile(s, s.home.path() + "/c.P12");
  auto reply = ReplyFields(s.Call("getFnStatus", {s.customer.idno}));
  EXPECT_EQ(reply["fnStatus"], s.proxy().FnStatus(s.customer.idno));
  EXPECT_EQ(reply["fnStatus"][0], '0') << "no second application";
  EXPECT_EQ(reply["certCount"], "1");
  EXPECT_EQ(reply["effectCertCount"], "1");
}

TEST(FunctionStatus, FailuresSendAnEmptyStatusAndZeroCounts) {
  struct Case {
    const char* name;
    std::function<void(DemoSession&)> arrange;
    int code;
  } kCases[] = {
      {"no common name", [](DemoSession& s) { s.bench().Script("getCn", "<result><rtnCode>0</rtnCode></result>"); },
       kFnStatusNoCn},
      {"exchange fails", [](DemoSession& s) { Fault(s, "getFnStatus", "status:500"); }, kFnStatusCallFailed},
      {"unreadable", [](DemoSession& s) { Fault(s, "getFnStatus", "malformed"); }, kFnStatusReplyUnreadable},
      {"refused", [](DemoSession& s) {
         s.bench().Script("getFnStatus", "<result><rtnCode>9</rtnCode><fnStatus>10000</fnStatus>"
                                         "<certCount>3</certCount><effectCertCount>2</effectCertCount></result>");
       }, kFnStatusReplyUnreadable},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    DemoSession s("pfx");
    ASSERT_TRUE(s.logged_in);
    c.arrange(s);
    EXPECT_EQ(s.Call("getFnStatus", {s.customer.idno}),
              "{'errCode':'" + std::to_string(c.code) + "','errMsg':'" + MakeErrorText(c.code) +
                  "','fnStatus':'','certCount':'0','effectCertCount':'0'}");
  }
}

TEST(ServerCertInfo, CarriesEveryFieldOfTheProxyRecord) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  // Without a certificate the proxy's record is empty: code 0, no fields.
  EXPECT_EQ(s.Call("qrySvrCertInfo", {s.customer.idno}), "{'errCode':'0','errMsg':''}");
  EXPECT_EQ(s.Call("qrySvrCertInfo2", {s.customer.idno}), "{'errCode':'0','errMsg':'','moCerts':[]}");

  InstallWithFile(s, s.home.path() + "/c.P12");
  auto cert = s.LatestCert();
  for (const char* method : {"qrySvrCertInfo", "qrySvrCertInfo2"}) {
    SCOPED_TRACE(method);
    std::string text = s.Call(method, {s.customer.idno});
    auto reply = ReplyFields(text);
    EXPECT_EQ(reply["errCode"], "0");
    EXPECT_EQ(reply["serial"], cert.serial);
    EXPECT_EQ(reply["cn"], s.customer.cn);
    EXPECT_EQ(reply["certUserId"], s.customer.idno);
    EXPECT_EQ(reply["notAfter"], cert.not_after);
    EXPECT_EQ(reply["state"], "0");
    EXPECT_EQ(reply["actFlg"], "Y");
    EXPECT_EQ(reply["stateMessage"].empty(), false);
    EXPECT_EQ(text.find("'actFlg'"), text.find("'errMsg':''") + 12) << "fields in byte order, actFlg first";
  }
  EXPECT_EQ(s.Call("qrySvrCertInfo2", {s.customer.idno}).substr(0, 1), "{");
  EXPECT_NE(s.Call("qrySvrCertInfo2", {s.customer.idno}).find(",'moCerts':[]}"), std::string::npos);
}

TEST(ServerCertInfo, SecondFormDoublesBackslashesAndListsMobileCertificates) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  s.bench().Script("qryCert", "<result><rtnCode>0</rtnCode><serial>1A</serial><subject>CN=a\\b</subject></result>");
  s.bench().Script("qryCert2",
                   "<result><rtnCode>0</rtnCode><pcCert><subject>CN=a\\b</subject><serial>1A</serial></pcCert>"
                   "<mobileCert><cert><serial>2B</serial><cn>x\\y</cn></cert><cert><serial>3C</serial></cert>"
                   "</mobileCert></result>");
  EXPECT_EQ(s.Call("qrySvrCertInfo", {s.customer.idno}),
            "{'errCode':'0','errMsg':'','serial':'1A','subject':'CN=a\\b'}");
  EXPECT_EQ(s.Call("qrySvrCertInfo2", {s.customer.idno}),
            "{'errCode':'0','errMsg':'','serial':'1A','subject':'CN=a\\\\b',"
            "'moCerts':[{'cn':'x\\\\y','serial':'2B'},{'serial':'3C'}]}");
}

// 功 (A5 5C) and 許 (B3 5C) end in the backslash byte: the reply must keep
// them whole, or the quote after them is escaped and the page cannot read it.
TEST(ServerCertInfo, SecondFormKeepsDoubleByteCharactersWhole) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  s.bench().Script("qryCert2", platform::ToNarrow(
                                   "<result><rtnCode>0</rtnCode><pcCert><stateMessage>申請成功</stateMessage>"
                                   "<subject>CN=許\\功</subject></pcCert><mobileCert><cert><cn>許</cn>"
                                   "<memo>成功</memo></cert></mobileCert></result>"));
  EXPECT_EQ(s.Call("qrySvrCertInfo2", {s.customer.idno}),
            "{'errCode':'0','errMsg':'','stateMessage':'申請成功','subject':'CN=許\\\\功',"
            "'moCerts':[{'cn':'許','memo':'成功'}]}");
}

TEST(ServerCertInfo, FailuresCarryNoFields) {
  struct Case {
    const char* name;
    std::function<void(DemoSession&)> arrange;
    int code;
  } kCases[] = {
      {"no common name", [](DemoSession& s) { s.bench().Script("getCn", "<result><rtnCode>0</rtnCode></result>"); },
       kQryCertNoCn},
      {"exchange fails", [](DemoSession& s) {
         Fault(s, "qryCert", "status:500");
         Fault(s, "qryCert2", "status:500");
       }, 1},
      {"unreadable", [](DemoSession& s) {
         Fault(s, "qryCert", "malformed");
         Fault(s, "qryCert2", "malformed");
       }, kQryCertReplyUnreadable},
      {"refused with fields", [](DemoSession& s) {
         s.bench().Script("qryCert", "<result><rtnCode>9</rtnCode><serial>1A</serial></result>");
         s.bench().Script("qryCert2", "<result><rtnCode>9</rtnCode><pcCert><serial>1A</serial></pcCert></result>");
       }, kQryCertRefused},
  };
  for (const auto& c : kCases) {
    for (const char* method : {"qrySvrCertInfo", "qrySvrCertInfo2"}) {
      SCOPED_TRACE(std::string(method) + ": " + c.name);
      DemoSession s("pfx");
      ASSERT_TRUE(s.logged_in);
      c.arrange(s);
      EXPECT_EQ(s.Call(method, {s.customer.idno}),
                "{'errCode':'" + std::to_string(c.code) + "','errMsg':'" + MakeErrorText(c.code) + "'}");
    }
  }
}

TEST(ServerCertInfo, NetworkFailurePassesTheTransportCodeWithItsMessage) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  setSetting("cn", s.customer.cn);  // known, so only the query goes out
  const std::string relay = getenv("QUIL_PROXY_URL");
  setenv("QUIL_PROXY_URL", "http://127.0.0.1:1/PELIProxy/proxy/", 1);
  std::string reply = s.Call("qrySvrCertInfo2", {s.customer.idno});
  setenv("QUIL_PROXY_URL", relay.c_str(), 1);
  EXPECT_EQ(reply, "{'errCode':'59999','errMsg':'" + MakeErrorText(kHttpFailed) + "'}");
  EXPECT_EQ(s.ui->messages.size(), 1u) << "the transport's network message";
}

TEST(ClientCertInfo, ReadsTheFileThroughTheLoadDialogAlways) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  // No certificate installed yet: the proxy names no latest one.
  EXPECT_EQ(s.Call("qryClntCertInfo", {s.customer.idno}), "{'errCode':'1','errMsg':''}");
  EXPECT_TRUE(s.ui->dialogs.empty());

  const std::string path = s.home.path() + "/c.P12";
  InstallWithFile(s, path);
  s.AnswerLoadDialog(path, kPassword);
  std::string text = s.Call("qryClntCertInfo", {s.customer.idno});
  auto reply = ReplyFields(text);
  EXPECT_EQ(reply["errCode"], "0");
  EXPECT_EQ(reply["errMsg"], "");
  EXPECT_EQ(reply["serial"], s.LatestCert().serial);
  EXPECT_EQ(reply["cn"], s.customer.cn);
  ASSERT_EQ(s.ui->dialogs.size(), 1u) << "shown although the settings name the file";
  EXPECT_EQ(s.ui->dialogs[0].dialog, "CQUILLoadPfxDlg");
  s.AnswerLoadDialog(path, kPassword);
  EXPECT_EQ(s.Call("qryIECertInfo", {s.customer.idno}), text) << "the same method";

  // Cancelled, with no second source named: 54406, errMsg still empty.
  EXPECT_EQ(s.Call("qryClntCertInfo", {s.customer.idno}), "{'errCode':'54406','errMsg':''}");
}

TEST(ClientCertInfo, SecondSourceDecidesWhenTheFirstFails) {
  struct Case {
    const char* name;
    const char* primary;
    const char* secondary;
    bool answer_dialog;
    int code;
  } kCases[] = {
      {"store empty, file second", "ieCertStore", "pfx", true, 0},
      {"store empty, file second cancelled", "ieCertStore", "pfx", false, kCancelled},
      {"store empty, nothing second", "ieCertStore", "", false, kClientCertNoSource},
      {"file cancelled, store second empty", "pfx", "ieCertStore", false, kMyStoreNoMatch},
      {"unknown first means the file", "", "", true, 0},
      {"file cancelled, store cannot be opened", "pfx", "ieCertStore", false, kMyStoreFailed},
      {"store empty, file second without a certificate", "ieCertStore", "pfx", true, kPkcs12ParseFailed},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    DemoSession s("pfx");
    ASSERT_TRUE(s.logged_in);
    const std::string path = s.home.path() + "/c.P12";
    InstallWithFile(s, path);
    setSetting("env.read.primaryCertStore", c.primary);
    setSetting("env.read.secondaryCertStore", c.secondary);
    if (c.code == kMyStoreFailed) BlockFolder(platform::DataFolder() + "/certstore.db/x");
    if (c.code == kPkcs12ParseFailed) WriteFileForTest(path, KeyOnlyPkcs12(kPassword));
    if (c.answer_dialog) s.AnswerLoadDialog(path, kPassword);
    auto reply = ReplyFields(s.Call("qryClntCertInfo", {s.customer.idno}));
    EXPECT_EQ(reply["errCode"], std::to_string(c.code));
    EXPECT_EQ(reply["errMsg"], "");
    EXPECT_EQ(reply.count("serial"), c.code == 0 ? 1u : 0u);
  }
}

TEST(PfxCertInfo, OpensTheFileSilentlyAndChecksItHoldsTheLatestCertificate) {
  // Files of other customers: same issuer and another serial, and another
  // issuing authority.
  std::string other_file, foreign_file;
  {
    DemoSession other("pfx");
    ASSERT_TRUE(other.logged_in);
    InstallWithFile(other, other.home.path() + "/other.P12");
    other_file = *ReadNonEmptyFile(other.home.path() + "/other.P12");
  }
  {
    DemoSession foreign("pfx");
    ASSERT_TRUE(foreign.logged_in);
    devproxy::IssuePolicy usual = foreign.proxy().issue_policy();
    devproxy::IssuePolicy policy = usual;
    policy.issuer_cn = "QUIL Other Issuing CA";
    foreign.proxy().SetIssuePolicy(policy);
    InstallWithFile(foreign, foreign.home.path() + "/foreign.P12");
    foreign.proxy().SetIssuePolicy(usual);
    foreign_file = *ReadNonEmptyFile(foreign.home.path() + "/foreign.P12");
  }
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  const std::string path = s.home.path() + "/c.P12";
  EXPECT_EQ(s.Call("qryPfxCertInfo", {s.customer.idno, path, kPassword}), "{'errCode':'54035','errMsg':''}");
  InstallWithFile(s, path);
  WriteFileForTest(s.home.path() + "/other.P12", other_file);
  WriteFileForTest(s.home.path() + "/foreign.P12", foreign_file);
  WriteFileForTest(s.home.path() + "/text.P12", "not a certificate file");
  WriteFileForTest(s.home.path() + "/empty.P12", "");
  setSetting("env.userPfxFilePath", "before");
  setSetting("env.userPfxFilePwd", "before");

  struct Case {
    const char* name;
    std::string file;
    std::string password;
    int code;
  } kCases[] = {
      {"missing", "/none.P12", kPassword, kPfxFileLoadFailed},
      {"empty", "/empty.P12", kPassword, kPfxFileLoadFailed},
      {"not PKCS#12", "/text.P12", kPassword, kCertFileLoadFailed},
      {"wrong password", "/c.P12", "wrong1", kPfxFileWrongPassword},
      {"other serial", "/other.P12", kPassword, kCertFileWrongSerial},
      {"other issuer", "/foreign.P12", kPassword, kCertFileWrongIssuer},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(s.Call("qryPfxCertInfo", {s.customer.idno, s.home.path() + c.file, c.password}),
              "{'errCode':'" + std::to_string(c.code) + "','errMsg':''}");
    EXPECT_EQ(getSetting("env.userPfxFilePath"), "before");
    EXPECT_EQ(getSetting("env.userPfxFilePwd"), "before");
  }
  auto reply = ReplyFields(s.Call("qryPfxCertInfo", {s.customer.idno, path, kPassword}));
  EXPECT_EQ(reply["errCode"], "0");
  EXPECT_EQ(reply["serial"], s.LatestCert().serial);
  EXPECT_EQ(reply["sha256Fingerprint"], Sha256OfUserCert(*ReadNonEmptyFile(path), kPassword));
  EXPECT_EQ(getSetting("env.userPfxFilePath"), path);
  EXPECT_EQ(getSetting("env.userPfxFilePwd"), kPassword);
  EXPECT_TRUE(s.ui->dialogs.empty()) << "never asks";
}

}  // namespace
}  // namespace quil::testing
