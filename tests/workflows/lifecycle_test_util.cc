#include "lifecycle_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/result_codes.h"
#include "base/settings.h"
#include "cert/test_pki.h"

namespace quil::testing {

std::string PlainReplyFor(int code) {
  return "{'errCode':'" + std::to_string(code) + "','errMsg':'" + MakeErrorText(code) + "'}";
}

std::string HoldCertificateInFile(DemoSession& s, const std::string& path, const std::string& password) {
  auto applied = ReplyFields(s.Call("crtNewCert2", {s.customer.idno, ""}));
  EXPECT_EQ(applied["errCode"], "0") << applied["errMsg"];
  EXPECT_EQ(s.Call("savePfx2", {applied["applyId"], applied["b64Cert"], path, password}),
            "{'errCode':'0','errMsg':''}");
  s.ClearUi();
  s.bench().ClearCalls();
  return s.LatestCert().serial;
}

std::string HoldCertificateInStore(DemoSession& s) {
  auto applied = ReplyFields(s.Call("crtNewCert2", {s.customer.idno, ""}));
  EXPECT_EQ(applied["errCode"], "0") << applied["errMsg"];
  s.ClearUi();
  s.bench().ClearCalls();
  return s.LatestCert().serial;
}

void NearItsEnd(DemoSession& s) {
  EXPECT_TRUE(s.proxy().SetCertExpiryForTesting(s.customer.idno, 10));
  EXPECT_EQ(s.proxy().FnStatus(s.customer.idno).substr(0, 2), "01");
}

void NoCommonName(DemoSession& s) {
  setSetting("cn", "");  // forget the one found so far
  s.bench().Script("getCn", "<result><rtnCode>0</rtnCode></result>");
}

Lines StepsBeforeFinal(DemoSession& s, const std::string& closing) {
  Lines lines = ProgressLines(s.ui.get());
  if (lines.empty()) return lines;
  EXPECT_EQ(lines.back().substr(lines.back().find(' ') + 1), closing);
  lines.pop_back();
  return lines;
}

namespace {

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

}  // namespace

int OpenSsl(const std::string& args, std::string* output) { return RunCommand("openssl " + args, output); }

bool Pkcs12Opens(const std::string& path, const std::string& password) {
  return OpenSsl("pkcs12 -legacy -noout -in " + Quoted(path) + " -passin pass:" + password) == 0;
}

std::string Pkcs12CertPem(const std::string& path, const std::string& password) {
  std::string out;
  if (OpenSsl("pkcs12 -legacy -nokeys -clcerts -in " + Quoted(path) + " -passin pass:" + password +
                  " | openssl x509",
              &out) != 0)
    return "";
  return out;
}

std::string VerifyWithDemoAuthority(DemoSession& s, const std::string& cert_pem) {
  const std::string file = s.home.path() + "/verify.pem";
  WriteFileForTest(file, cert_pem);
  std::string out;
  OpenSsl("verify -CAfile " + Quoted(s.proxy().root_cert_path()) + " -untrusted " +
              Quoted(s.proxy().intermediate_cert_path()) + " " + Quoted(file),
          &out);
  return out.find(": OK") != std::string::npos ? "OK" : out;
}

std::string Pkcs12PublicKey(const std::string& path, const std::string& password) {
  std::string out;
  if (OpenSsl("pkcs12 -legacy -nocerts -nodes -in " + Quoted(path) + " -passin pass:" + password +
                  " | openssl pkey -pubout",
              &out) != 0)
    return "";
  return out;
}

std::string KeyFilePublicKey(const std::string& key_file) {
  std::string out;
  if (OpenSsl("pkey -pubout -in " + Quoted(key_file), &out) != 0) return "";
  return out;
}

std::vector<std::string> KeyFilePaths(DemoSession& s) {
  std::vector<std::string> names = s.KeyFiles();
  std::sort(names.begin(), names.end());  // named by the time they were made
  for (auto& n : names) n = GetPathSetting("env.userPrivateKeyFolder") + "/" + n;
  return names;
}

}  // namespace quil::testing
