// Base64 against OpenSSL's block encoder, and the protocol's leniency.
#include "base/base64.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

namespace quil {
namespace {

std::string EncodeBlock(const std::string& in) {
  std::string out(4 * ((in.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(in.data()), static_cast<int>(in.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

TEST(Base64Test, EncodesAgainstOpenSsl) {
  for (const std::string& in : {std::string(), std::string("f"), std::string("fo"), std::string("foo"),
                                std::string("\xff\x00\x10zz", 5), std::string(1000, '\x9c')}) {
    EXPECT_EQ(base64Encode(in), EncodeBlock(in));
    EXPECT_EQ(base64Decode(base64Encode(in)), in);
  }
}

TEST(Base64Test, DecodingIsLenient) {
  const std::string text(100, 'q');
  std::string b64 = base64Encode(text);
  std::string wrapped;
  for (size_t i = 0; i < b64.size(); i += 76) wrapped += b64.substr(i, 76) + "\r\n";
  struct Case {
    const char* name;
    std::string in;
    std::string out;
  } kCases[] = {
      {"line breaks every 76 characters", wrapped, text},
      {"padding and spaces skipped", "Zm9v YmE=\n", "fooba"},
      {"two last characters give one byte", "Zm", "f"},
      {"three last characters give two bytes", "Zm9", "fo"},
      {"a lone last character gives none", "Zm9vY", "foo"},
      {"stops at a zero byte", std::string("Zm9v\0YmFy", 9), "foo"},
      {"nothing but noise", "==!!\n", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(base64Decode(c.in), c.out);
  }
}

TEST(Base64Test, StrictFormIsTheAlphabetInGroupsOfFour) {
  struct Case {
    const char* name;
    std::string text;
    bool strict;
  } kCases[] = {
      {"empty", "", true},
      {"groups of four", "Zm9vYmFy", true},
      {"one padding", "Zm9vYmE=", true},
      {"two paddings", "Zm9vYg==", true},
      {"three paddings", "Zm9v====", false},
      {"padding inside", "Zm=vYmFy", false},
      {"a line break", "Zm9v\nYmFy", false},
      {"not a group of four", "Zm9vY", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsStrictBase64(c.text), c.strict);
  }
}

}  // namespace
}  // namespace quil
