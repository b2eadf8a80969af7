#include "cert/held_certificate.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "support/test_env.h"

namespace quil {
namespace {

using testing::ScopedTestHome;

CertInfo Record(const std::string& cn, const std::string& serial, const std::string& not_after) {
  return {{"cn", cn},
          {"serial", serial},
          {"issuer", "CN=QUIL Demo Issuing CA, O=\xA5\x78\xC6\x57, C=TW"},  // O=台灣 in code page 950
          {"notAfter", not_after},
          {"notBefore", "20250101000000"}};
}

TEST(HeldCertificate, OneRecordPerCustomerInWideText) {
  ScopedTestHome home;
  EXPECT_TRUE(HeldCertificates().empty());
  RememberHeldCertificate(Record("B223456789-01", "3C4D", "20271231235959"), InMyStore());
  RememberHeldCertificate(Record("A123456789-01", "1A2B", "20270630120000"), InPfxFile("/home/u/憑證.P12"));
  RememberHeldCertificate(Record("A123456789-01", "5E6F", "20280630120000"), InPfxFile("/home/u/new.P12"));

  auto held = HeldCertificates();
  ASSERT_EQ(held.size(), 2u);
  EXPECT_EQ(held[0].cn, "A123456789-01");
  EXPECT_EQ(held[0].serial, "5E6F") << "the later certificate replaced the earlier";
  EXPECT_EQ(held[0].issuer, "CN=QUIL Demo Issuing CA, O=台灣, C=TW");
  EXPECT_EQ(held[0].notAfter, "20280630120000");
  EXPECT_EQ(held[0].where.store, "pfx");
  EXPECT_EQ(held[0].where.path, "/home/u/new.P12");
  EXPECT_EQ(held[1].cn, "B223456789-01");
  EXPECT_EQ(held[1].where.store, "ieCertStore");
  EXPECT_EQ(held[1].where.path, "");
  auto type = platform::CurrentUserHive().QueryValue("Software\\MERO\\QUILReminder\\HeldCertificates\\B223456789-01",
                                                     "notAfter");
  ASSERT_TRUE(type);
  EXPECT_EQ(type->type, platform::RegType::kSz);
}

TEST(HeldCertificate, RecordsThatNameNoCertificateAreIgnored) {
  struct Case {
    const char* name;
    CertInfo record;
  } kCases[] = {
      {"no cn", Record("", "1A2B", "20270630120000")},
      {"no end", Record("A123456789-01", "1A2B", "")},
      {"a cn that would be a key path", Record("A123456789\\01", "1A2B", "20270630120000")},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScopedTestHome home;
    RememberHeldCertificate(c.record, InMyStore());
    EXPECT_TRUE(HeldCertificates().empty());
  }
}

TEST(HeldCertificate, AnnouncedStagesBelongToTheSerial) {
  ScopedTestHome home;
  RememberHeldCertificate(Record("A123456789-01", "1A2B", "20270630120000"), InMyStore());
  HeldCertificate held = HeldCertificates().at(0);
  RememberAnnounced(held, "28d", "20270602090000");
  RememberAnnounced(held, "14d", "20270616090000");
  EXPECT_EQ(AnnouncedStages(held), (std::vector<std::string>{"28d", "14d"}));

  // Read back from another place: the same certificate, the same memory.
  RememberHeldCertificate(Record("A123456789-01", "1A2B", "20270630120000"), InPfxFile("/x.P12"));
  EXPECT_EQ(AnnouncedStages(HeldCertificates().at(0)).size(), 2u);

  // Renewed: the memory goes; a stage for the old one is not kept.
  RememberHeldCertificate(Record("A123456789-01", "5E6F", "20280630120000"), InMyStore());
  EXPECT_TRUE(AnnouncedStages(HeldCertificates().at(0)).empty());
  RememberAnnounced(held, "7d", "20270623090000");
  EXPECT_TRUE(AnnouncedStages(HeldCertificates().at(0)).empty());
  EXPECT_TRUE(AnnouncedStages(held).empty());
}

}  // namespace
}  // namespace quil
