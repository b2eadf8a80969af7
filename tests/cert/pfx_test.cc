// PKCS#12 files: writing, checking, opening, the key folder and the dialogs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>

#include "base/result_codes.h"
#include "base/settings.h"
#include "cert/cert_info.h"
#include "cert/pfx_file.h"
#include "cert/pfx_with_dialogs.h"
#include "cert/test_pki.h"
#include "platform/diagnostic_log.h"
#include "cert_test_env.h"
#include "platform/files.h"
#include "support/test_env.h"
#include "ui/scripted_ui.h"

namespace quil {
namespace {

namespace fs = std::filesystem;
using testing::SharedCa;

// A user key with its issued certificate (base64 DER) and a bundle with the
// chain (base64 PKCS#7: root, intermediate, user).
struct Issued {
  testing::TestKey key = testing::NewTestKey();
  std::string der;
  std::string cert_text;
  std::string bundle_text;
  explicit Issued(const std::string& cn = "A123456789-01", const std::string& serial = "1A2B3C",
                  const testing::NameParts& extra = {}) {
    der = SharedCa().Issue(key.key, cn, serial, testing::Constraints::kEndEntity, extra);
    cert_text = testing::Base64(der);
    bundle_text = testing::Base64(testing::Pkcs7Bundle({SharedCa().root, SharedCa().intermediate, der}));
  }
  std::string pem() const { return testing::KeyPem(key.key); }
};

Issued& SharedUser() {
  static Issued* user = new Issued();
  return *user;
}

struct PfxEnv {
  PfxEnv() {
    testing::PrepareCertTests();
    testing::UseLocalSettingsOnly();
  }
  ~PfxEnv() { ResetSettingsForTesting(); }
  testing::ScopedTestHome home;
  ui::ScopedScriptedUi ui;
};

std::string PfxInfo(const std::string& path, const std::string& password) {
  std::string out;
  EXPECT_EQ(testing::RunCommand("openssl pkcs12 -info -legacy -nodes -passin pass:" + password + " -in " + path, &out), 0)
      << out;
  return out;
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(MakePfxFile, WritesTheDescribedAlgorithmsAndBags) {
  PfxEnv env;
  std::string path = env.home.path() + "/out/a.p12";
  ASSERT_EQ(makePfxFile(SharedUser().bundle_text, SharedUser().pem(), path, "pw1234"), 0);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::string info = PfxInfo(path, "pw1234");
  EXPECT_NE(info.find("MAC: sha1, Iteration 1\n"), std::string::npos) << info;
  EXPECT_EQ(Count(info, "PKCS7 Encrypted data: pbeWithSHA1And40BitRC2-CBC, Iteration 2048"), 1) << info;
  EXPECT_EQ(Count(info, "Shrouded Keybag: pbeWithSHA1And3-KeyTripleDES-CBC, Iteration 2048"), 1) << info;
  EXPECT_EQ(Count(info, "friendlyName: A123456789-01"), 2) << info;  // user certificate and key bag
  EXPECT_EQ(Count(info, "localKeyID:"), 2);
  EXPECT_EQ(Count(info, "Bag Attributes: <No Attributes>"), 2);  // the chain
  EXPECT_EQ(Count(info, "-----BEGIN CERTIFICATE-----"), 3);
  // The user certificate is the end entity, not the last of the bundle.
  std::regex first_cert("Bag Attributes\\n(    [^\\n]*\\n){2}subject=CN ?= ?A123456789-01\\n");
  EXPECT_TRUE(std::regex_search(info, first_cert)) << info;
}

// Folders that do not exist are made at each separator, as the customer
// writes them on the platform ("C:\\Users\\u\\new1\\deeper\\a.P12" on
// Windows) or with "/".
TEST(MakePfxFile, MakesTheMissingFoldersOnThePath) {
  PfxEnv env;
  for (const std::string& path : {platform::WithPreferredSeparators(env.home.path() + "/new1/deeper/a.P12"),
                                  env.home.path() + "/new2/deeper/a.P12"}) {
    SCOPED_TRACE(path);
    ASSERT_EQ(makePfxFile(SharedUser().bundle_text, SharedUser().pem(), path, "pw1234"), 0);
    EXPECT_EQ(checkPfxFile(path, "pw1234"), 0);
  }
  EXPECT_TRUE(env.ui->messages.empty());
}

TEST(MakePfxFile, BundleWithoutConstraintsUsesTheCertificateOfTheKey) {
  PfxEnv env;
  testing::TestKey key = testing::NewTestKey();
  std::string user = SharedCa().Issue(key.key, "B1", "0B", testing::Constraints::kNone);
  std::string text = testing::Base64(testing::Pkcs7Bundle({user, SharedCa().intermediate, SharedCa().root}));
  std::string path = env.home.path() + "/b.p12";
  ASSERT_EQ(makePfxFile(text, testing::KeyPem(key.key), path, "x"), 0);
  std::string info = PfxInfo(path, "x");
  EXPECT_EQ(Count(info, "-----BEGIN CERTIFICATE-----"), 3) << info;  // each certificate once
  EXPECT_EQ(Count(info, "friendlyName: B1"), 2) << info;
}

TEST(MakePfxFile, FailureCodes) {
  PfxEnv env;
  testing::TestKey other = testing::NewTestKey();
  testing::WriteFileForTest(env.home.path() + "/file", "x");
  const std::string good_path = env.home.path() + "/c.p12";
  struct Case {
    const char* name;
    std::string cert;
    std::string key;
    std::string path;
    int want;
  } kCases[] = {
      {"empty certificate", "", SharedUser().pem(), good_path, kMakePfxNoCert},
      {"empty key", SharedUser().cert_text, "", good_path, 1},
      {"empty path", SharedUser().cert_text, SharedUser().pem(), "", kMakePfxNoPath},
      {"not a certificate", testing::Base64("garbage bytes"), SharedUser().pem(), good_path, kMakePfxCertUnreadable},
      {"key of another certificate", SharedUser().cert_text, testing::KeyPem(other.key), good_path,
       kMakePfxCreateFailed},
      {"unwritable path", SharedUser().cert_text, SharedUser().pem(), env.home.path() + "/file/c.p12",
       kMakePfxOpenFailed},
      {"single certificate", SharedUser().cert_text, SharedUser().pem(), good_path, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(makePfxFile(c.cert, c.key, c.path, "pw"), c.want);
  }
  EXPECT_TRUE(env.ui->messages.empty());
}

TEST(MakePfxFromKeyFolder, FindsTheFittingKeyWhereverItIs) {
  PfxEnv env;
  std::string folder = env.home.path() + "/MERO";
  setSetting("env.userPrivateKeyFolder", folder);
  EXPECT_EQ(makePfxFromKeyFolder(SharedUser().cert_text, env.home.path() + "/x.p12", "pw"), 1);  // no folder
  std::vector<std::string> names = {"20250101000000001.p8", "20250101000000002.p8", "20250101000000003.p8",
                                    "20250101000000004.p8"};
  for (size_t fitting = 0; fitting < names.size(); ++fitting) {
    SCOPED_TRACE(fitting);
    fs::remove_all(folder);
    for (size_t i = 0; i < names.size(); ++i) {
      std::string pem = i == fitting ? SharedUser().pem() : testing::KeyPem(testing::NewTestKey(1024).key);
      testing::WriteFileForTest(folder + "/" + names[i], pem);
    }
    testing::WriteFileForTest(folder + "/notes.txt", SharedUser().pem());  // not a key file
    std::string path = env.home.path() + "/saved.p12";
    ASSERT_EQ(makePfxFromKeyFolder(SharedUser().cert_text, path, "pw"), 0);
    EXPECT_EQ(checkPfxFile(path, "pw"), 0);
    EXPECT_EQ(getSetting("env.userPfxFilePath"), path);
    EXPECT_EQ(getSetting("env.userPfxFilePwd"), "pw");
    size_t count = 0;
    for (const auto& e : fs::directory_iterator(folder)) count += e.path().extension() == ".p8";
    EXPECT_EQ(count, names.size());  // key files are never deleted
  }
  Issued stranger("C1", "0C");
  EXPECT_EQ(makePfxFromKeyFolder(stranger.cert_text, env.home.path() + "/y.p12", "pw"), 1);
}

TEST(CheckPfxFile, Codes) {
  PfxEnv env;
  std::string path = env.home.path() + "/a.p12";
  ASSERT_EQ(makePfxFile(SharedUser().cert_text, SharedUser().pem(), path, "pw"), 0);
  testing::WriteFileForTest(env.home.path() + "/junk.p12", "junk");
  EXPECT_EQ(checkPfxFile(path, "pw"), 0);
  EXPECT_EQ(checkPfxFile(path, "wrong"), kCertFileLoadFailed);
  EXPECT_EQ(checkPfxFile(env.home.path() + "/junk.p12", "pw"), kCertFileLoadFailed);
  EXPECT_EQ(checkPfxFile(env.home.path() + "/missing.p12", "pw"), kCertFileReadFailed);
}

TEST(CertInfoFromPkcs12, FillsTheRecord) {
  PfxEnv env;
  Issued user("A123456789-01", "009F01", {{"OU", "Retail"}, {"O", "Exmpl, Inc."}, {"C", "TW"}});
  std::string path = env.home.path() + "/a.p12";
  ASSERT_EQ(makePfxFile(user.cert_text, user.pem(), path, "pw"), 0);
  std::string bytes = testing::ReadFileForTest(path);
  CertInfoResult r = certInfoFromPkcs12(bytes, "pw");
  ASSERT_EQ(r.code, 0);
  EXPECT_EQ(r.info["cn"], "A123456789-01");
  EXPECT_EQ(r.info["certUserId"], "A123456789");
  EXPECT_EQ(r.info["serial"], "9F01");
  EXPECT_EQ(r.info["notBefore"], "20250101080000");  // Asia/Taipei
  EXPECT_EQ(r.info["notAfter"], "20350101080000");
  EXPECT_EQ(r.info["subject"], "CN=A123456789-01, OU=Retail, O=Exmpl\\, Inc., C=TW");
  EXPECT_EQ(r.info["issuer"], testing::kIssuerText);
  EXPECT_EQ(r.info["ou"], "Retail");
  EXPECT_EQ(r.info["o"], "Exmpl, Inc.");
  EXPECT_EQ(r.info.count("c"), 0u);
  // The store reader agrees on the serial of the same certificate.
  EXPECT_EQ(certInfoFromContext(user.der)["serial"], "9F01");
  EXPECT_EQ(certInfoFromPkcs12(bytes, "wrong").code, kPkcs12ParseFailed);
}

// Certificate files come from outside: crafted names and serials are read
// whole, without hanging or exhausting the stack.
TEST(CertInfoFromPkcs12, CraftedFilesAreReadWhole) {
  PfxEnv env;
  std::string items;
  for (int i = 0; i < 40; ++i) items += "a=a, ";
  const std::string long_cn = std::string(30000, 'A') + "-01";
  const std::string long_serial = "7" + std::string(32767, 'F');  // 16 KB
  struct Case {
    const char* name;
    std::string cn;
    std::string serial_hex;
    testing::NameParts issuer;
    int load_code;  // against the usual issuer and serial 1A2B3C
  } kCases[] = {
      {"issuer O of ambiguous items", "A123456789-01", "1A2B3C",
       {{"CN", "Exmpl User CA"}, {"OU", "Sec"}, {"O", items + "x"}, {"C", "TW"}}, kCertFileWrongIssuer},
      {"30,000-character common name", long_cn, "1A2B3C", testing::IssuerName(), 0},
      {"16 KB serial", "A123456789-01", long_serial, testing::IssuerName(), kCertFileWrongSerial},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    testing::CertTemplate tmpl{{{"CN", c.cn}}, c.serial_hex};
    std::string der = testing::IssueCert(tmpl, SharedUser().key.key, c.issuer, SharedCa().ca_key.key);
    std::string path = env.home.path() + "/crafted.p12";
    ASSERT_EQ(makePfxFile(testing::Base64(der), SharedUser().pem(), path, "pw"), 0);
    CertInfoResult r = certInfoFromPkcs12(testing::ReadFileForTest(path), "pw");
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.info["cn"], c.cn);
    EXPECT_EQ(r.info["certUserId"], c.cn.substr(0, c.cn.find('-')));
    EXPECT_EQ(r.info["serial"], c.serial_hex);
    EXPECT_EQ(loadPfxSilent(path, "pw", testing::kIssuerText, "1A2B3C").code, c.load_code);
  }
}

TEST(LoadPfxSilent, Codes) {
  PfxEnv env;
  std::string path = env.home.path() + "/a.p12";
  ASSERT_EQ(makePfxFile(SharedUser().bundle_text, SharedUser().pem(), path, "pw"), 0);
  testing::WriteFileForTest(env.home.path() + "/junk.p12", "junk");
  struct Case {
    const char* name;
    std::string path;
    std::string password;
    std::string issuer;
    std::string serial;
    int want;
  } kCases[] = {
      {"missing file", env.home.path() + "/none.p12", "pw", "", "", kPfxFileLoadFailed},
      {"not a PKCS#12", env.home.path() + "/junk.p12", "pw", "", "", kCertFileLoadFailed},
      {"wrong password", path, "nope", "", "", kPfxFileWrongPassword},
      {"other issuer CN", path, "pw", "CN=Other CA, O=Exmpl, C=TW", "1A2B3C", kCertFileWrongIssuer},
      {"other issuer O", path, "pw", "CN=Exmpl User CA, O=Other", "1A2B3C", kCertFileWrongIssuer},
      {"leading zero in expected serial", path, "pw", testing::kIssuerText, "001A2B3C", kCertFileWrongSerial},
      {"lower-case expected serial", path, "pw", testing::kIssuerText, "1a2b3c", kCertFileWrongSerial},
      {"expected issuer without OU", path, "pw", "CN=Exmpl User CA, O=Exmpl, C=TW", "1A2B3C", 0},
      {"no expected issuer", path, "pw", "", "", 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    testing::UseLocalSettingsOnly();
    PfxLoadResult r = loadPfxSilent(c.path, c.password, c.issuer, c.serial);
    EXPECT_EQ(r.code, c.want);
    EXPECT_EQ(getSetting("env.userPfxFilePath"), c.want == 0 ? c.path : "");
    EXPECT_EQ(r.pkcs12.empty(), c.want != 0);
  }
}

// The record's issuer text against the proxy's, both in the PKCS#12
// reader's form, with the commas real organisations have in their names.
TEST(PfxMatches, ComparesEachAttributeTheExpectedIssuerNames) {
  const CertInfo record = {{"issuer", "CN=Real CA, OU=Sec, O=Exmpl, Inc., L=Taipei City, S=Taiwan, C=TW"},
                           {"serial", "9F03"}};
  struct Case {
    const char* name;
    const char* issuer;
    int code;
  } kCases[] = {
      {"the same text", "CN=Real CA, OU=Sec, O=Exmpl, Inc., L=Taipei City, S=Taiwan, C=TW", kOk},
      {"only some attributes named", "CN=Real CA, O=Exmpl, Inc., C=TW", kOk},
      {"other organisation", "CN=Real CA, O=Other, Inc., C=TW", kCertFileWrongIssuer},
      {"other country after a comma in a value", "CN=Real CA, O=Exmpl, Inc., C=JP", kCertFileWrongIssuer},
      {"other unit before it", "CN=Real CA, OU=Ops, O=Exmpl, Inc.", kCertFileWrongIssuer},
      {"other locality", "CN=Real CA, O=Exmpl, Inc., L=Kaohsiung", kCertFileWrongIssuer},
      {"other common name", "CN=Fake CA, O=Exmpl, Inc.", kCertFileWrongIssuer},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(pfxMatches(record, c.issuer, "9F03"), c.code);
  }
  EXPECT_EQ(pfxMatches(record, record.at("issuer"), "9F04"), kCertFileWrongSerial);
}

TEST(LoadPfxInteractive, AsksUntilTheRightFileOrCancel) {
  PfxEnv env;
  std::string path = env.home.path() + "/a.p12";
  ASSERT_EQ(makePfxFile(SharedUser().cert_text, SharedUser().pem(), path, "pw"), 0);
  // Silent first attempt with a wrong password, then a wrong one typed, then right.
  env.ui->dialog_answers.push_back(ui::DialogValues{{"path", path}, {"password", "bad"}});
  env.ui->dialog_answers.push_back(ui::DialogValues{{"path", path}, {"password", "pw"}});
  PfxLoadResult r = loadPfxInteractive(path, "nope", testing::kIssuerText, "1A2B3C", false);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(env.ui->dialogs.size(), 2u);
  EXPECT_EQ(env.ui->dialogs[0].fields[0].value, path);
  EXPECT_EQ(env.ui->dialogs[0].fields[1].value, "");  // the silent attempt's password is not shown
  EXPECT_EQ(env.ui->dialogs[1].fields[1].value, "bad");  // what was typed is kept
  EXPECT_TRUE(env.ui->messages.empty());  // no message between attempts
  EXPECT_EQ(getSetting("env.userPfxFilePwd"), "pw");

  // A file of another serial keeps asking; cancel gives 53401.
  env.ui->dialog_answers.push_back(ui::DialogValues{{"path", path}, {"password", "pw"}});
  PfxLoadResult cancelled = loadPfxInteractive(path, "pw", testing::kIssuerText, "FFFF", true);
  EXPECT_EQ(cancelled.code, kCancelled);
  EXPECT_EQ(cancelled.password, "");
  EXPECT_EQ(env.ui->dialogs.size(), 4u);
}

TEST(SavePfxWithDialog, RetriesUntilAKeyFitsThenRemembers) {
  PfxEnv env;
  std::string folder = env.home.path() + "/MERO";
  setSetting("env.userPrivateKeyFolder", folder);
  setSetting("env.userPfxFilePath", env.home.path() + "/default.p12");
  setSetting("pfx.pwd.minLen", "4");
  setSetting("pfx.pwd.prompt", "4+");
  std::string path = env.home.path() + "/docs/mine.p12";
  // First OK: no key file yet, so the dialog returns; then cancel.
  env.ui->dialog_answers.push_back(ui::DialogValues{{"path", path}, {"password", "pass"}, {"confirm", "pass"}});
  PfxChoiceResult none = savePfxWithDialog(SharedUser().cert_text, "");
  EXPECT_EQ(none.code, kCancelled);
  ASSERT_EQ(env.ui->dialogs.size(), 2u);
  EXPECT_EQ(env.ui->dialogs[0].fields[0].value, env.home.path() + "/default.p12");
  EXPECT_EQ(env.ui->dialogs[0].fields[1].value, "4+");
  EXPECT_EQ(env.ui->dialogs[1].fields[0].value, path);

  testing::WriteFileForTest(folder + "/20250101000000000.p8", SharedUser().pem());
  env.ui->dialog_answers.push_back(ui::DialogValues{{"path", path}, {"password", "abc"}, {"confirm", "abc"}});
  env.ui->dialog_answers.push_back(ui::DialogValues{{"path", path}, {"password", "abcd"}, {"confirm", "abcd"}});
  PfxChoiceResult saved = savePfxWithDialog(SharedUser().cert_text, "");
  ASSERT_EQ(saved.code, 0);
  EXPECT_EQ(env.ui->messages.back(), "密碼長度不足\n");
  EXPECT_EQ(saved.path, path);
  EXPECT_EQ(checkPfxFile(path, "abcd"), 0);
  EXPECT_EQ(getSetting("env.userPfxFilePath"), path);
  EXPECT_EQ(getSetting("env.userPfxFilePwd"), "abcd");
}

// A file that does not open leaves OpenSSL's reason in the diagnostic log,
// named by its result, and never the password that was tried.
TEST(LoadPfxSilent, FailureLogHoldsOpenSslsReasonAndNoPassword) {
  PfxEnv env;
  const std::string good = env.home.path() + "/a.p12";
  ASSERT_EQ(makePfxFile(SharedUser().cert_text, SharedUser().pem(), good, "right-pw-71"), 0);
  const std::string junk = env.home.path() + "/junk.p12";
  testing::WriteFileForTest(junk, "not a PKCS#12 file at all");
  // No journal at this path: the log goes to standard error, read here.
  platform::SetJournalSocketForTesting(env.home.path() + "/no-journal");
  platform::SetLogLevel(platform::LogLevel::kError);
  const struct {
    const char* name;
    std::string path;
    std::string password;
    int code;
    std::string result;
    std::string reason;  // part of OpenSSL's text
  } kCases[] = {
      {"wrong password", good, "Wrong-Secret-93", kPfxFileWrongPassword, "result=kPfxFileWrongPassword",
       "mac verify failure"},
      {"not a PKCS#12 file", junk, "Junk-Secret-48", kCertFileLoadFailed, "result=kCertFileLoadFailed",
       "asn1 encoding routines"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ::testing::internal::CaptureStderr();
    PfxLoadResult r = loadPfxSilent(c.path, c.password, "", "");
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(r.code, c.code);
    EXPECT_NE(log.find("layer=cert operation=loadPfxSilent " + c.result), std::string::npos) << log;
    EXPECT_NE(log.find(c.reason), std::string::npos) << log;
    EXPECT_EQ(log.find(c.password), std::string::npos) << log;
    EXPECT_EQ(log.find("right-pw-71"), std::string::npos) << log;
  }
  platform::SetJournalSocketForTesting("/run/systemd/journal/socket");
}

}  // namespace
}  // namespace quil
