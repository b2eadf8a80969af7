// Who may ask for a signature and what text may be signed.
#include <gtest/gtest.h>

#include "browsers/sign_refusals.h"
#include "browsers/signer/signer_messages.h"
#include "browsers/signer_settings.h"
#include "support/test_env.h"

namespace quil {
namespace {

TEST(SigningOriginOf, ReadsTheOperatorsAddressesAsOrigins) {
  struct Case {
    const char* address;
    const char* origin;
  } cases[] = {
      {"https://trade.example.com.tw/order/", "https://trade.example.com.tw"},
      {"HTTPS://Trade.Example.COM.tw:443/x?y#z", "https://trade.example.com.tw"},
      {"https://127.0.0.1:8443", "https://127.0.0.1:8443"},
      {" https://127.0.0.1:08443/ ", "https://127.0.0.1:8443"},
      {"trade.example.com.tw", "https://trade.example.com.tw"},
      {"https://[::1]:9000/", "https://[::1]:9000"},
      {"http://trade.example.com.tw/", ""},  // signing needs https
      {"ftp://trade.example.com.tw/", ""},
      {"https://user@trade.example.com.tw/", ""},
      {"https://trade.example.com.tw:99999/", ""},
      {"https://trade.example.com.tw:0/", ""},
      {"https://:443/", ""},
      {"https://bad host/", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(SigningOriginOf(c.address), c.origin) << c.address;
}

TEST(SigningOrigins, OnlyTheListsOriginsExactlyMayAsk) {
  testing::ScopedTestHome home;
  RememberSigningOrigins({{"depCert.targetUrl", "https://trade.example.com.tw/web/, http://plain.example.com.tw/,"
                                                "https://127.0.0.1:9443/"}},
                         "https://proxy.example.com.tw/PELIProxy/proxy/");
  EXPECT_EQ(SigningOrigins(), (std::vector<std::string>{"https://proxy.example.com.tw",
                                                        "https://trade.example.com.tw", "https://127.0.0.1:9443"}));
  struct Case {
    const char* origin;
    bool allowed;
  } cases[] = {
      {"https://trade.example.com.tw", true},
      {"https://proxy.example.com.tw", true},
      {"https://127.0.0.1:9443", true},
      {"https://127.0.0.1:9444", false},           // another port is another site
      {"https://127.0.0.1", false},
      {"http://plain.example.com.tw", false},      // never over plain http
      {"https://evil.trade.example.com.tw", false},
      {"https://trade.example.com.tw.evil.tw", false},
      {"https://TRADE.example.com.tw", false},     // browsers report origins in lower case
      {"https://trade.example.com.tw/", false},    // an origin has no path
      {"https://trade.example.com.tw:443", false}, // nor the default port
      {"null", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSigningOriginAllowed(c.origin), c.allowed) << c.origin;

  // A new list replaces the old one.
  RememberSigningOrigins({}, "https://proxy.example.com.tw/PELIProxy/proxy/");
  EXPECT_FALSE(IsSigningOriginAllowed("https://trade.example.com.tw"));
}

TEST(SignTextProblem, RefusesTextsTheScreenCouldNotShowAsSigned) {
  struct Case {
    const char* name;
    std::string text;
    const char* problem;
  } cases[] = {
      {"an order", "委託單\n帳號: 9A000000001\n買進 2330 1000 股 @ 600.00", ""},
      {"tabs and carriage returns", "a\tb\r\nc", ""},
      {"empty", "", refusal::kTextEmpty},
      {"blanks only", " \n\t\u3000", refusal::kTextEmpty},
      {"at the limit", std::string(signer::kMaxSignTextBytes, 'a'), ""},
      {"above the limit", std::string(signer::kMaxSignTextBytes + 1, 'a'), refusal::kTextTooLong},
      {"a NUL", std::string("buy\0sell", 8), refusal::kTextNotDisplayable},
      {"an escape", "buy \x1b[2Jsell", refusal::kTextNotDisplayable},
      {"a C1 control", "buy \u0085 sell", refusal::kTextNotDisplayable},
      {"a right-to-left override", "price \u202E00.006", refusal::kTextNotDisplayable},
      {"an isolate", "qty \u2067100\u2069", refusal::kTextNotDisplayable},
      {"a zero-width space", "23\u200B30", refusal::kTextNotDisplayable},
      {"a byte order mark", "\uFEFFbuy", refusal::kTextNotDisplayable},
      {"a tag character", "buy \U000E0041", refusal::kTextNotDisplayable},
      {"a line separator", "buy\u2028sell", refusal::kTextNotDisplayable},
  };
  for (const auto& c : cases) EXPECT_EQ(signer::SignTextProblem(c.text), c.problem) << c.name;
}

TEST(ReadSignerMessage, TakesOnlyWholeRequests) {
  struct Case {
    const char* body;
    const char* type;
    const char* refusal;
  } cases[] = {
      {R"({"type":"GetVersion","id":"1"})", "GetVersion", ""},
      {R"({"type":"GetOrigins","id":"2"})", "GetOrigins", ""},
      {R"({"type":"Sign","id":"3","text":"x","origin":"https://a"})", "Sign", ""},
      {R"({"type":"Sign","id":"3","text":"x"})", "Sign", refusal::kInvalidMessage},
      {R"({"type":"Sign","id":"3","text":7,"origin":"https://a"})", "Sign", refusal::kInvalidMessage},
      {R"({"type":"Delete","id":"4"})", "Delete", refusal::kInvalidMessage},
      {R"({"type":"GetVersion"})", "", refusal::kInvalidMessage},
      {R"({"type":"GetVersion","id":5})", "", refusal::kInvalidMessage},
      {R"(["GetVersion"])", "", refusal::kInvalidMessage},
      {R"({"type":"GetVersion","id":"1")", "", refusal::kInvalidMessage},
      {"\xff\xfe", "", refusal::kInvalidMessage},
      {"", "", refusal::kInvalidMessage},
  };
  for (const auto& c : cases) {
    signer::SignerMessage m = signer::ReadSignerMessage(c.body);
    EXPECT_EQ(m.type, c.type) << c.body;
    EXPECT_EQ(m.refusal, c.refusal) << c.body;
  }
  // An id too long to answer as it came is not answered with.
  signer::SignerMessage m =
      signer::ReadSignerMessage(R"({"type":"GetVersion","id":")" + std::string(200, '7') + "\"}");
  EXPECT_EQ(m.refusal, refusal::kInvalidMessage);
  EXPECT_EQ(m.id, "");
}

}  // namespace
}  // namespace quil
