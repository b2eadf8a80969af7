// The record of the certificate the customer holds follows what the
// application saves and what the queries read back; the first save offers
// the daily reminder.
#include "cert/held_certificate.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/files.h"
#include "base/settings.h"
#include "cert/cert_info.h"
#include "demo_bench.h"
#include "lifecycle_test_util.h"
#include "platform/cert_store.h"
#include "workflow_test_util.h"

namespace quil::testing {
namespace {

const char kPassword[] = "abc123";
const char kOffer[] = "要在憑證到期前以桌面通知提醒您嗎？";

// The end of validity of the certificate in a PKCS#12 file.
std::string FileNotAfter(const std::string& path) {
  auto bytes = ReadNonEmptyFile(path);
  return bytes ? FieldOf(certInfoFromPkcs12(*bytes, kPassword).info, "notAfter") : "";
}

std::string SaveWithFile(DemoSession& s, const std::string& path) {
  auto issued = ReplyFields(s.Call("crtNewCert2", {s.customer.idno, ""}));
  return s.Call("savePfx2", {issued["applyId"], issued["b64Cert"], path, kPassword});
}

int Offers(DemoSession& s) {
  int n = 0;
  for (const auto& m : s.ui->messages) n += m.rfind(kOffer, 0) == 0;
  return n;
}

TEST(HeldCertificateRecord, WrittenWhereTheApplicationSavedTheCertificate) {
  struct Case {
    const char* name;
    const char* profile;
    std::function<void(DemoSession&, const std::string& path)> save;
    const char* store;
  } kCases[] = {
      {"savePfx2",
       "pfx",
       [](DemoSession& s, const std::string& path) { EXPECT_EQ(SaveWithFile(s, path), "{'errCode':'0','errMsg':''}"); },
       "pfx"},
      {"crtNewCert with the save dialog",
       "pfx",
       [](DemoSession& s, const std::string& path) {
         s.AcceptAgreement();
         s.AnswerSaveDialog(path, kPassword);
         EXPECT_EQ(s.Call("crtNewCert", {s.customer.idno}), "{'errCode':'0','errMsg':''}");
       },
       "pfx"},
      {"crtNewCert2 into the store",
       "store",
       [](DemoSession& s, const std::string&) {
         EXPECT_EQ(ReplyFields(s.Call("crtNewCert2", {s.customer.idno, ""}))["errCode"], "0");
       },
       "ieCertStore"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    DemoSession s(c.profile);
    ASSERT_TRUE(s.logged_in);
    const std::string path = s.home.path() + "/certs/mine.P12";
    c.save(s, path);

    auto held = HeldCertificates();
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].cn, s.customer.cn);
    EXPECT_EQ(held[0].serial, s.LatestCert().serial);
    EXPECT_EQ(held[0].where.store, c.store);
    if (held[0].where.store == "pfx") {
      EXPECT_EQ(held[0].where.path, path);
      EXPECT_EQ(held[0].notAfter, FileNotAfter(path));
    } else {
      auto my = platform::OpenSystemStore("MY")->Certificates();
      ASSERT_EQ(my.size(), 1u);
      EXPECT_EQ(held[0].notAfter, certInfoFromContext(my[0].der)["notAfter"]);
      EXPECT_EQ(held[0].issuer, certInfoFromContext(my[0].der)["issuer"]);
    }
    EXPECT_EQ(held[0].notAfter.size(), 14u);
  }
}

TEST(HeldCertificateRecord, RenewalAndDownloadReplaceItWithTheNewCertificate) {
  struct Case {
    const char* name;
    const char* profile;
    std::function<void(DemoSession&, const std::string& path)> run;
    const char* store;
  } kCases[] = {
      {"renewal into a new file", "pfx",
       [](DemoSession& s, const std::string& path) {
         const std::string old_path = s.home.path() + "/old.P12";
         HoldCertificateInFile(s, old_path, kPassword);
         NearItsEnd(s);
         s.AcceptAgreement();
         s.AnswerLoadDialog(old_path, kPassword);
         s.AnswerSaveDialog(path, kPassword);
         EXPECT_EQ(s.Call("replaceCert", {s.customer.idno}), "{'errCode':'0','errMsg':''}");
       },
       "pfx"},
      {"renewal into the store through a temporary file", "pfx,store",
       [](DemoSession& s, const std::string&) {
         const std::string old_path = s.home.path() + "/old.P12";
         HoldCertificateInFile(s, old_path, kPassword);
         NearItsEnd(s);
         setSetting("env.read.primaryCertStore", "ieCertStore");
         s.AcceptAgreement();
         s.AnswerLoadDialog(old_path, kPassword);
         EXPECT_EQ(s.Call("replaceCert", {s.customer.idno}), "{'errCode':'0','errMsg':''}");
       },
       "ieCertStore"},
      {"renewal in the store", "store",
       [](DemoSession& s, const std::string&) {
         HoldCertificateInStore(s);
         NearItsEnd(s);
         s.AcceptAgreement();
         EXPECT_EQ(s.Call("replaceCert", {s.customer.idno}), "{'errCode':'0','errMsg':''}");
       },
       "ieCertStore"},
      {"download into a file", "pfx",
       [](DemoSession& s, const std::string& path) {
         Fault(s, "applyCert", "lost,times:1");
         EXPECT_NE(ReplyFields(s.Call("crtNewCert2", {s.customer.idno, ""}))["errCode"], "0");
         s.AnswerSaveDialog(path, kPassword);
         EXPECT_EQ(s.Call("dlCert", {s.customer.idno}), "{'errCode':'0','errMsg':''}");
       },
       "pfx"},
      {"download into the store", "store",
       [](DemoSession& s, const std::string&) {
         Fault(s, "applyCert", "lost,times:1");
         EXPECT_NE(ReplyFields(s.Call("crtNewCert2", {s.customer.idno, ""}))["errCode"], "0");
         EXPECT_EQ(s.Call("dlCert", {s.customer.idno}), "{'errCode':'0','errMsg':''}");
       },
       "ieCertStore"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    DemoSession s(c.profile);
    ASSERT_TRUE(s.logged_in);
    // A record of an earlier certificate whose reminders were shown.
    CertInfo earlier{{"cn", s.customer.cn}, {"serial", "0BEF0RE"}, {"notAfter", "20200101000000"}};
    RememberHeldCertificate(earlier, InPfxFile("/earlier.P12"));
    RememberAnnounced(HeldCertificates().at(0), "expired", "20200102000000");

    const std::string path = s.home.path() + "/new/mine.P12";
    c.run(s, path);
    auto held = HeldCertificates();
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].serial, s.LatestCert().serial);
    EXPECT_EQ(held[0].where.store, c.store);
    EXPECT_EQ(held[0].where.path, held[0].where.store == "pfx" ? path : "");
    EXPECT_EQ(held[0].notAfter.size(), 14u);
    EXPECT_TRUE(AnnouncedStages(held[0]).empty()) << "the new certificate's reminders are still to come";
  }
}

TEST(HeldCertificateRecord, AFailedSaveRemembersNothing) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  SetUserTimerForTest(s.home, "disabled");
  auto issued = ReplyFields(s.Call("crtNewCert2", {s.customer.idno, ""}));
  auto failed = s.Call("savePfx2", {issued["applyId"], "bm90IGEgY2VydGlmaWNhdGU=", s.home.path() + "/x.P12", kPassword});
  EXPECT_EQ(ReplyFields(failed)["errCode"], "3006");
  EXPECT_TRUE(HeldCertificates().empty());
  EXPECT_EQ(Offers(s), 0) << "nothing saved, nothing offered";
}

TEST(HeldCertificateRecord, QueriesRememberOnlyTheLatestCertificateTheyRead) {
  std::string other_file;
  {
    DemoSession other("pfx");
    ASSERT_TRUE(other.logged_in);
    ASSERT_EQ(SaveWithFile(other, other.home.path() + "/other.P12"), "{'errCode':'0','errMsg':''}");
    other_file = *ReadNonEmptyFile(other.home.path() + "/other.P12");
  }
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  const std::string path = s.home.path() + "/mine.P12";
  ASSERT_EQ(SaveWithFile(s, path), "{'errCode':'0','errMsg':''}");

  // Moved by the customer, then read where it is now.
  const std::string moved = s.home.path() + "/moved/mine.P12";
  std::filesystem::create_directories(s.home.path() + "/moved");
  std::filesystem::rename(path, moved);
  EXPECT_EQ(ReplyFields(s.Call("qryPfxCertInfo", {s.customer.idno, moved, kPassword}))["errCode"], "0");
  ASSERT_EQ(HeldCertificates().size(), 1u);
  EXPECT_EQ(HeldCertificates()[0].where.path, moved);

  // The load dialog opens any file; another certificate is not the one held.
  const std::string foreign = s.home.path() + "/other.P12";
  WriteFileForTest(foreign, other_file);
  s.AnswerLoadDialog(foreign, kPassword);
  EXPECT_EQ(ReplyFields(s.Call("qryClntCertInfo", {s.customer.idno}))["errCode"], "0");
  ASSERT_EQ(HeldCertificates().size(), 1u);
  EXPECT_EQ(HeldCertificates()[0].serial, s.LatestCert().serial);
  EXPECT_EQ(HeldCertificates()[0].where.path, moved);

  // The customer's own file through the same dialog is.
  std::filesystem::copy_file(moved, path);
  s.AnswerLoadDialog(path, kPassword);
  EXPECT_EQ(ReplyFields(s.Call("qryClntCertInfo", {s.customer.idno}))["errCode"], "0");
  EXPECT_EQ(HeldCertificates()[0].where.path, path);
}

TEST(HeldCertificateRecord, ANewRunProposesTheFileOfTheHeldCertificate) {
  struct Case {
    const char* name;
    std::function<void(DemoSession&, const std::string& held)> before;
    bool proposed;
  } kCases[] = {
      {"the held file", [](DemoSession&, const std::string&) {}, true},
      {"the held file is gone", [](DemoSession&, const std::string& held) { std::filesystem::remove(held); }, false},
      {"the record names the store",
       [](DemoSession& s, const std::string&) {
         RememberHeldCertificate({{"cn", s.customer.cn}, {"serial", "1"}, {"notAfter", "20990101000000"}},
                                 InMyStore());
       },
       false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    DemoSession s("pfx");
    ASSERT_TRUE(s.logged_in);
    const std::string held = s.home.path() + "/certs/mine.P12";
    ASSERT_EQ(SaveWithFile(s, held), "{'errCode':'0','errMsg':''}");
    c.before(s, held);

    // The next run starts from the operator's default path, until the login.
    ResetSettingsForTesting();
    const std::string by_default = GetPathSetting("env.userPfxFilePath");
    ASSERT_NE(by_default, held);
    ASSERT_EQ(ReplyFields(s.Call("doLogin", {s.customer.aid, s.customer.password}))["errCode"], "0");
    EXPECT_EQ(ReplyFields(s.Call("getClientPfxFilePath", {}))["pfxFilePath"], c.proposed ? held : by_default);
  }
}

TEST(HeldCertificateRecord, TheFirstSaveOffersTheReminderOnce) {
  DemoSession s("pfx");
  ASSERT_TRUE(s.logged_in);
  SetUserTimerForTest(s.home, "disabled");
  s.ui->message_answers.push_back(ui::Answer::kYes);
  ASSERT_EQ(SaveWithFile(s, s.home.path() + "/mine.P12"), "{'errCode':'0','errMsg':''}");
  EXPECT_EQ(Offers(s), 1);
  EXPECT_EQ(ReadFileForTest(s.home.path() + "/systemctl/state"), "enabled\n");

  ASSERT_EQ(s.Call("qryPfxCertInfo", {s.customer.idno, s.home.path() + "/mine.P12", kPassword}).rfind("{'errCode':'0'", 0), 0u);
  SetUserTimerForTest(s.home, "disabled");
  ASSERT_EQ(SaveWithFile(s, s.home.path() + "/again.P12").rfind("{'errCode':'", 0), 0u);
  EXPECT_EQ(Offers(s), 1) << "asked once only";
}

}  // namespace
}  // namespace quil::testing
