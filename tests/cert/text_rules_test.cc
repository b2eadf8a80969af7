// The text rules of certificate records and search keys.
#include <gtest/gtest.h>

#include "cert/cert_info.h"
#include "cert/dn_text.h"
#include "cert/test_pki.h"
#include "cert_test_env.h"

namespace quil {
namespace {

TEST(UserIdFromCn, BothReadersCutAtTheFirstDash) {
  struct Case {
    const char* name;
    const char* cn;
    const char* want;
  } kCases[] = {
      {"suffix", "A123456789-01", "A123456789"},
      {"no dash", "A123456789", "A123456789"},
      {"leading dash", "-01", "-01"},
      {"empty", "", ""},
      {"two dashes", "A1-02-03", "A1"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(userIdFromCn(c.cn, UserIdPattern::kPkcs12Reader), c.want);
    EXPECT_EQ(userIdFromCn(c.cn, UserIdPattern::kStoreReader), c.want);
  }
}

TEST(SerialText, UpperHexWithoutLeadingZeros) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* want;
  } kCases[] = {
      {"leading zero byte", std::string("\x00\x9F\x01", 3), "9F01"},
      {"leading zero digit", std::string("\x00\x1A\x2B\x3C", 4), "1A2B3C"},
      {"lower-case digits upper-cased", std::string("\xab\xcd", 2), "ABCD"},
      {"all zero", std::string("\x00\x00", 2), ""},
      {"inner zeros kept", std::string("\x10\x00", 2), "1000"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(serialText(c.bytes), c.want);
  }
}

TEST(CertTimeText, UtcInstantInLocalTime) {
  testing::PrepareCertTests();  // TZ Asia/Taipei, UTC+8
  struct Case {
    const char* name;
    AsnTimeType type;
    const char* text;
    const char* want;
  } kCases[] = {
      {"UTCTime 99 is 2099", AsnTimeType::kUtcTime, "991231235959Z", "21000101075959"},
      {"UTCTime 25", AsnTimeType::kUtcTime, "250101000000Z", "20250101080000"},
      {"GeneralizedTime", AsnTimeType::kGeneralizedTime, "20300615120000Z", "20300615200000"},
      {"year 1900 is empty", AsnTimeType::kGeneralizedTime, "19000101000000Z", ""},
      {"other type is empty", AsnTimeType::kOther, "250101000000Z", ""},
      {"unreadable is empty", AsnTimeType::kUtcTime, "25x1", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(certTimeText(c.type, c.text), c.want);
  }
}

TEST(DnAttributes, PickAndExtract) {
  struct Case {
    const char* name;
    const char* dn;
    const char* attribute;
    const char* picked;
    const char* extracted;
  } kCases[] = {
      {"present", "CN=Exmpl User CA, OU=Sec, O=Exmpl, C=TW", "OU", "Sec", "Sec"},
      {"first attribute", "CN=Exmpl User CA, OU=Sec, O=Exmpl, C=TW", "CN", "Exmpl User CA", "Exmpl User CA"},
      {"last attribute", "CN=Exmpl User CA, OU=Sec, O=Exmpl, C=TW", "C", "TW", "TW"},
      {"absent", "CN=Exmpl, C=TW", "OU", "CN=Exmpl, C=TW", ""},
      {"space before comma kept by pick", "CN=Exmpl , C=TW", "CN", "Exmpl ", "Exmpl"},
      {"quoted value", "CN=\"Exmpl User\", C=TW", "CN", "\"Exmpl User\"", "Exmpl User"},
      // A comma inside a value belongs to it: the value runs to the comma
      // before the next NAME= item.
      {"comma in the value", "CN=Real CA, O=Exmpl, Inc., L=Taipei City, S=Taiwan, C=TW", "O", "Exmpl, Inc.",
       "Exmpl, Inc."},
      {"attribute after a comma in a value", "CN=Real CA, O=Exmpl, Inc., OU=Sec", "OU", "Sec", "Sec"},
      {"attribute before a comma in a value", "CN=Real CA, OU=Sec, O=Exmpl, Inc., C=TW", "OU", "Sec", "Sec"},
      {"state", "CN=Real CA, O=Exmpl, Inc., L=Taipei City, S=Taiwan, C=TW", "S", "Taiwan", "Taiwan"},
      {"locality", "CN=Real CA, O=Exmpl, Inc., L=Taipei City, S=Taiwan, C=TW", "L", "Taipei City", "Taipei City"},
      {"country last", "CN=Real CA, O=Exmpl, Inc., L=Taipei City, S=Taiwan, C=TW", "C", "TW", "TW"},
      {"absent with commas in values", "CN=Real CA, O=Exmpl, Inc.", "OU", "CN=Real CA, O=Exmpl, Inc.", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(pickDnAttribute(c.dn, c.attribute), c.picked);
    EXPECT_EQ(extractDnValue(c.dn, c.attribute), c.extracted);
  }
}

// Names and serials come from certificate files: any length and any shape
// must be read whole, in time that grows with the length only.
TEST(DnAttributes, CraftedNamesOfAnyShapeAreRead) {
  std::string items;
  for (int i = 0; i < 40; ++i) items += "a=a, ";
  const std::string issuer = "CN=Exmpl User CA, O=" + items + "x=x, C=TW";
  EXPECT_EQ(pickDnAttribute(issuer, "OU"), issuer);  // absent: the text comes back whole
  EXPECT_EQ(pickDnAttribute(issuer, "CN"), "Exmpl User CA");
  EXPECT_EQ(extractDnValue(issuer, "O"), "");  // its value would hold "="
  EXPECT_EQ(extractDnValue(issuer, "CN"), "Exmpl User CA");
  CertInfo record{{"issuer_cn", "Exmpl User CA"}, {"serial", "01"}};
  EXPECT_TRUE(RecordMatchesKey("//" + items + "O_CN=Other" + issuerKey("CN=Exmpl User CA", "01"), record));

  const std::string long_cn = std::string(30000, 'A') + "-01";
  EXPECT_EQ(userIdFromCn(long_cn, UserIdPattern::kPkcs12Reader), std::string(30000, 'A'));
  EXPECT_EQ(userIdFromCn(long_cn, UserIdPattern::kStoreReader), std::string(30000, 'A'));
  const std::string long_dn = "CN=" + long_cn + ", OU=" + std::string(30000, 'B') + ", C=TW";
  EXPECT_EQ(pickDnAttribute(long_dn, "C"), "TW");
  EXPECT_EQ(extractDnValue(long_dn, "OU"), std::string(30000, 'B'));

  const std::string serial = std::string(1, '\0') + std::string(16383, '\xAB');
  std::string hex;
  for (int i = 0; i < 16383; ++i) hex += "AB";
  EXPECT_EQ(serialText(serial), hex);
}

TEST(IssuerKey, ConvertsIssuerAttributesAndAppendsSerial) {
  EXPECT_EQ(issuerKey("CN=Exmpl User CA, OU=Sec, O=Exmpl, C=TW", "1A2B3C"),
            "//O_CN=Exmpl User CA,O_OU=Sec,O_O=Exmpl,O_C=TW,S_SN=1A2B3C//");
  EXPECT_EQ(issuerKey("CN = Exmpl User CA ,O= Exmpl", "AB"), "//O_CN=Exmpl User CA,O_O=Exmpl,S_SN=AB//");
  // Other attributes stay unconverted and are no criteria.
  EXPECT_EQ(issuerKey("CN=X, L=Taipei", "01"), "//O_CN=X, L=Taipei,S_SN=01//");
}

TEST(SearchKey, MatchesRecords) {
  CertInfo record{{"cn", "A123456789-01"}, {"serial", "1A2B3C"}, {"issuer_cn", "Exmpl User CA"},
                  {"issuer_ou", "Sec"},     {"issuer_o", "Exmpl"},  {"issuer_c", "TW"}};
  struct Case {
    const char* name;
    std::string key;
    bool want;
  } kCases[] = {
      {"built key", "//O_CN=Exmpl User CA,O_OU=Sec,O_O=Exmpl,O_C=TW,S_SN=1A2B3C//", true},
      {"issuer with other spacing",
       issuerKey("CN = Exmpl User CA ,  OU=Sec,O =Exmpl, C= TW", "1A2B3C"), true},
      {"group without criteria matches all", "//x//", true},
      {"other serial", "//O_CN=Exmpl User CA,S_SN=1A2B3D//", false},
      {"serial case matters", "//S_SN=1a2b3c//", false},
      {"second group matches", "//S_SN=FF// O_O=Exmpl ,S_SN=1A2B3C//", true},
      {"subject criterion", "//S_CN=A123456789-01//", true},
      {"empty key", "", false},
      {"only separators", "////", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RecordMatchesKey(c.key, record), c.want);
  }
}

}  // namespace
}  // namespace quil
