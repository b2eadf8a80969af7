#include <gtest/gtest.h>

#include "fake_proxy.h"
#include "proxy/transport.h"

namespace quil::proxy {
namespace {

TEST(FormEncodingTest, ValuesAreEncodedByteByByte) {
  struct Case {
    const char* name;
    std::string in;
    std::string out;
  } kCases[] = {
      {"letters and digits stay", "aZ09", "aZ09"},
      {"space slash plus equals", "a b/+=", "a+b%2F%2B%3D"},
      {"white-space bytes become plus", std::string("\t\n\v\f\r "), "++++++"},
      {"unreserved marks are escaped", "-_.~*", "%2D%5F%2E%7E%2A"},
      {"high bytes in upper-case hex", " /+=\xA4\xA4", "+%2F%2B%3D%A4%A4"},
      {"zero byte", std::string("a\0b", 3), "a%00b"},
      {"empty", "", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(urlEncodeValue(c.in), c.out);
  }
}

TEST(FormEncodingTest, FieldsGoInByteOrderOfNames) {
  FieldMap fields;
  fields["pw"] = "p";
  fields["clientIP"] = "1.2.3.4";
  fields["aid"] = "A 1";
  EXPECT_EQ(formEncode(fields), "aid=A+1&clientIP=1%2E2%2E3%2E4&pw=p");

  FieldMap cased = {{"alpha", "1"}, {"Zeta", "2"}, {"empty", ""}};
  EXPECT_EQ(formEncode(cased), "Zeta=2&alpha=1&empty=");
  EXPECT_EQ(formEncode({}), "");
}

TEST(SplitUrlTest, CracksHostPortAndPath) {
  struct Case {
    const char* name;
    const char* url;
    bool ok;
    bool secure;
    const char* host;
    int port;
    const char* path;
  } kCases[] = {
      {"https default port", "https://proxy.example/PELIProxy/proxy/doLogin", true, true, "proxy.example", 443,
       "/PELIProxy/proxy/doLogin"},
      {"http explicit port, query dropped", "http://127.0.0.1:8080/a/b?x=1#f", true, false, "127.0.0.1", 8080, "/a/b"},
      {"capital scheme is not secure but keeps 443", "HTTPS://h/x", true, false, "h", 443, "/x"},
      {"no path", "http://h", true, false, "h", 80, "/"},
      {"ipv6 literal", "http://[::1]:9/p", true, false, "::1", 9, "/p"},
      {"no scheme", "proxy.example/x", false, false, "", 0, ""},
      {"other scheme", "ftp://h/x", false, false, "", 0, ""},
      {"no host", "https:///x", false, false, "", 0, ""},
      {"bad port", "http://h:99999/", false, false, "", 0, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    auto p = SplitUrl(c.url);
    ASSERT_EQ(p.has_value(), c.ok);
    if (!p) continue;
    EXPECT_EQ(p->secure, c.secure);
    EXPECT_EQ(p->host, c.host);
    EXPECT_EQ(p->port, c.port);
    EXPECT_EQ(p->path, c.path);
  }
}

}  // namespace
}  // namespace quil::proxy
