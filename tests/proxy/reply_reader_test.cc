#include <gtest/gtest.h>

#include "proxy/reply_reader.h"

namespace quil::proxy {
namespace {

TEST(ReplyReaderTest, ParseOutcomes) {
  struct Case {
    const char* name;
    std::string text;
    bool well_formed;
    bool has_root;
  } kCases[] = {
      {"root named anything", "<result><rtnCode>0</rtnCode></result>", true, true},
      {"declaration only", "<?xml version=\"1.0\"?>", true, false},
      {"empty text", "", false, false},
      {"unclosed element", "<root><rtnCode>0</rtnCode>", false, false},
      {"plain text", "hello", false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ReplyDocument doc = ParseReply(c.text);
    EXPECT_EQ(doc.well_formed, c.well_formed);
    EXPECT_EQ(doc.has_root, c.has_root);
  }
}

TEST(ReplyReaderTest, FieldTextReadsOnlyAFirstTextChild) {
  ReplyDocument doc = ParseReply(
      "<root>"
      "<ent>&lt;&#x41;&amp;</ent>"
      "<cdata><![CDATA[a<b]]></cdata>"
      "<empty/><blank></blank>"
      "<nested><x>1</x></nested>"
      "<comment><!-- c -->text</comment>"
      "<spaces>  a b  </spaces>"
      "<dup>first</dup><dup>second</dup>"
      "</root>");
  ASSERT_TRUE(doc.has_root);
  struct Case {
    const char* name;
    const char* field;
    const char* text;
  } kCases[] = {
      {"entities resolved", "ent", "<A&"},
      {"CDATA is text", "cdata", "a<b"},
      {"self-closing element", "empty", ""},
      {"element without content", "blank", ""},
      {"first child an element", "nested", ""},
      {"first child a comment", "comment", ""},
      {"white space kept", "spaces", "  a b  "},
      {"first of repeated names", "dup", "first"},
      {"absent", "missing", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(fieldText(doc.root, c.field), c.text);
  }
}

TEST(ReplyReaderTest, CollectFieldsBlocksAndLists) {
  ReplyDocument doc = ParseReply(
      "<r><rtnCode>0</rtnCode><rtnMsg>ok</rtnMsg><a>1</a><b/><a>2</a>"
      "<certInfo><certId>7</certId><cn>X</cn></certInfo>"
      "<mobileCert><cert><sn>1</sn></cert><other/><cert><sn>2</sn><sn>3</sn></cert></mobileCert></r>");
  ASSERT_TRUE(doc.has_root);
  FieldMap skipped = collectFields(doc.root, true);
  EXPECT_EQ(skipped, (FieldMap{{"a", "2"}, {"b", ""}, {"certInfo", ""}, {"mobileCert", ""}}));
  FieldMap all = collectFields(doc.root, false);
  EXPECT_EQ(all.at("rtnCode"), "0");
  EXPECT_EQ(all.at("rtnMsg"), "ok");

  EXPECT_EQ(ReadBlock(doc.root, "certInfo"), (FieldMap{{"certId", "7"}, {"cn", "X"}}));
  EXPECT_TRUE(ReadBlock(doc.root, "pcCert").empty());
  const XmlElement* mobile = ChildElement(doc.root, "mobileCert");
  ASSERT_NE(mobile, nullptr);
  auto list = ReadList(*mobile, "cert");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0], (FieldMap{{"sn", "1"}}));
  EXPECT_EQ(list[1], (FieldMap{{"sn", "3"}}));
}

TEST(ReplyReaderTest, AcceptanceAndNumbers) {
  struct Case {
    const char* name;
    const char* xml;
    bool accepted;
  } kCases[] = {
      {"zero", "<r><rtnCode>0</rtnCode></r>", true},
      {"zero with spaces", "<r><rtnCode> 0</rtnCode></r>", false},
      {"empty", "<r><rtnCode/></r>", false},
      {"missing", "<r><rtnMsg>x</rtnMsg></r>", false},
      {"refusal", "<r><rtnCode>1001</rtnCode></r>", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsAccepted(ParseReply(c.xml).root), c.accepted);
  }
  struct Num {
    const char* text;
    int value;
  } kNumbers[] = {{"7", 7}, {"42abc", 42}, {" -3", -3}, {"x9", 0}, {"", 0}, {"99999999999", 2147483647},
                    {"-99999999999", -2147483647 - 1}};
  for (const auto& n : kNumbers) {
    SCOPED_TRACE(n.text);
    EXPECT_EQ(ReadNumber(n.text), n.value);
  }
}

}  // namespace
}  // namespace quil::proxy
