// Regular expressions: the ECMAScript meaning of the program's patterns on a
// linear-time engine.
#include "base/regex_text.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>

namespace quil {
namespace {

// Every pattern the program runs, with the replacement it uses.
struct PatternInUse {
  const char* pattern;
  const char* format;
};

std::vector<PatternInUse> PatternsInUse() {
  std::vector<PatternInUse> out = {
      {"^([^-]+)(-.*)?$", "$1"},
      {"^([^-]+).*$", "$1"},
      {"^[\\s0]+|\\s+$", ""},
      {"^(\\d{2})(\\d{2})(\\d{2})(\\d{2})(\\d{2})(\\d{2}).*$", "$1|$2|$3|$4|$5|$6"},
      {"^(\\d{4})(\\d{2})(\\d{2})(\\d{2})(\\d{2})(\\d{2}).*$", "$1|$2|$3|$4|$5|$6"},
      {"^[\\s\"]+|[\\s\"]+$", ""},
      {"^\\s+|\\s+$", ""},
      {",", "\\,"},
      {"^.*/([^/]+)$", "$1"},
      {"^([^,]+),?([^,]+)?$", "[$1][$2]"},
      {"^\\.+$", "x"},
      {"^MERODepCert\\..*\\.htm$", "x"},
  };
  static std::vector<std::string> owned;  // patterns built from attribute names
  owned.clear();
  for (const char* name : {"CN", "OU", "O", "C", "S", "L"}) {
    owned.push_back(std::string("(\\s*[a-zA-Z]+\\s*=\\s*[^,]+\\s*,\\s*)*(\\s*") + name +
                    "\\s*=\\s*([^,]+))(\\s*,\\s*[a-zA-Z]+\\s*=\\s*[^,]+)*");
  }
  for (const char* name : {"CN", "OU", "O", "C", "S_SN", "O_CN"}) {
    owned.push_back(std::string("^.*\\s*") + name +
                    "\\s*=\\s*\"?([^=]*)\"?(\\s*,\\s*([a-zA-Z0-9_]+)\\s*=\\s*.*)*$");
  }
  for (const char* step : {"\\s*CN\\s*=\\s*", "\\s*O\\s*=\\s*", "\\s*,\\s*O_OU\\s*=\\s*"}) owned.push_back(step);
  for (size_t i = 0; i < owned.size(); ++i)
    out.push_back({owned[i].c_str(), i < 6 ? "$3" : i < 12 ? "<$1>" : "<$&>"});
  return out;
}

std::regex Reference(const char* pattern) {
  return std::regex(pattern, std::regex::ECMAScript | std::regex::multiline);
}

// Short texts over the characters these patterns care about. No carriage
// return: the reference library also ends lines there, the program's
// convention ends them at line feeds only (checked below).
std::string RandomText(std::mt19937& rng) {
  static const char kAlphabet[] = "aZ-,= =\"\t\v\n0199/.OUCNS_SL";
  std::uniform_int_distribution<int> length(0, 22);
  std::uniform_int_distribution<size_t> pick(0, sizeof kAlphabet - 2);
  std::string s;
  for (int n = length(rng); n > 0; --n) s.push_back(kAlphabet[pick(rng)]);
  return s;
}

TEST(Regex, AgreesWithTheBacktrackingMeaningOnEveryPatternInUse) {
  std::mt19937 rng(20240611);
  for (const auto& p : PatternsInUse()) {
    SCOPED_TRACE(p.pattern);
    auto re = Regex::Compile(p.pattern);
    ASSERT_TRUE(re.has_value());
    std::regex ref = Reference(p.pattern);
    for (int i = 0; i < 1500; ++i) {
      std::string text = RandomText(rng);
      SCOPED_TRACE(::testing::PrintToString(text));
      ASSERT_EQ(re->Replace(text, p.format), std::regex_replace(text, ref, p.format));
      ASSERT_EQ(re->ReplaceMatchesOnly(text, p.format),
                std::regex_replace(text, ref, p.format, std::regex_constants::format_no_copy));
      ASSERT_EQ(re->MatchesWhole(text), std::regex_match(text, ref));
      std::smatch m;
      bool found = std::regex_search(text, m, ref);
      auto groups = re->Search(text);
      ASSERT_EQ(groups.has_value(), found);
      if (!found) continue;
      ASSERT_EQ(groups->size(), m.size());
      for (size_t g = 0; g < m.size(); ++g) {
        ASSERT_EQ((*groups)[g].has_value(), m[g].matched) << "group " << g;
        if (m[g].matched) {
          ASSERT_EQ(*(*groups)[g], m[g].str()) << "group " << g;
        }
      }
    }
  }
}

TEST(Regex, Conventions) {
  struct Case {
    const char* name;
    const char* pattern;
    std::string text;
    const char* format;
    std::string want;
  } kCases[] = {
      {"^ after a line feed", "^a", "a\na", "b", "b\nb"},
      {"$ before a line feed", "a$", "a\na", "b", "b\nb"},
      {"a carriage return ends no line", "^a$", "a\ra", "b", "a\ra"},
      {"dot stops at line feed and carriage return", "a.", "a\na\rab", "x", "a\na\rx"},
      {"\\s holds the vertical tab", "\\s+", "a\v\f\t b", "_", "a_b"},
      {"\\s in a class", "[\\s,]+", "a ,\vb", "_", "a_b"},
      {"\\S", "\\S+", " ab ", "x", " x "},
      {"bytes above 127 are characters", "^..$", "\xa5\x5c", "x", "x"},
      {"high byte in a class", "[^\\x80-\\xff]", "\xa5" "a", "_", "\xa5_"},
      {"empty matches advance one character", "x*", "abc", "-", "-a-b-c-"},
      {"empty class matches nothing", "[]", "abc", "-", "abc"},
      {"negated empty class matches anything", "[^]", "a\n", "-", "--"},
      {"dollar escapes", "(b)", "abc", "$$|$&|$`|$'|$1", "a$|b|a|c|bc"},
      {"two-digit group only when it exists", "(a)", "a", "$10", "a0"},
      {"unknown group is text", "(a)", "a", "$2", "$2"},
      {"group that took no part is empty", "(a)|(b)", "b", "[$1]", "[]"},
      {"lazy quantifier", "a+?", "aaa", "x", "xxx"},
      {"leftmost alternative wins", "a|ab", "ab", "[$&]", "[a]b"},
      {"NUL in the text", "b", std::string("a\0b", 3), "c", std::string("a\0c", 3)},
      {"escaped NUL", "\\0", std::string("a\0b", 3), "_", "a_b"},
      {"control letter", "\\cJ", "a\nb", "_", "a_b"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RegexReplace(c.text, c.pattern, c.format), c.want);
  }
}

TEST(Regex, PatternsWithoutALinearMeaningOrMalformedDoNotCompile) {
  for (const char* pattern : {"(a)\\1", "(?=a)", "(?!a)", "(?<=a)b", "(?<n>a)", "\\k<n>", "[a", "(a", "a)",
                              "*", "\\", "\\p{L}", "\\Qa\\E", "\\z", "\\u0100", "\\xg0"}) {
    SCOPED_TRACE(pattern);
    EXPECT_FALSE(Regex::Compile(pattern).has_value());
    EXPECT_EQ(RegexReplace("abc", pattern, "x"), "abc");
    EXPECT_FALSE(RegexMatchesWhole("a", pattern));
  }
}

// Inputs that made a backtracking engine recurse per character (stack
// overflow) or try exponentially many ways.
TEST(Regex, LongAndAmbiguousTextsComplete) {
  std::string many(40 * 5, ' ');
  for (size_t i = 0; i < many.size(); i += 5) many.replace(i, 5, "a=a, ");
  std::string list = "(\\s*[a-zA-Z]+\\s*=\\s*[^,]+\\s*,\\s*)*(\\s*OU\\s*=\\s*([^,]+))(\\s*,\\s*[a-zA-Z]+\\s*=\\s*[^,]+)*";
  EXPECT_EQ(RegexReplace("CN=x, O=" + many + "x", list, "$3"), "CN=x, O=" + many + "x");
  EXPECT_EQ(RegexReplace(many + "OU=v", list, "$3"), "v");

  std::string longest(1 << 20, 'A');
  EXPECT_EQ(RegexReplace(longest + "-01", "^([^-]+)(-.*)?$", "$1"), longest);
  EXPECT_EQ(RegexReplace(std::string(1 << 20, '0') + "1", "^[\\s0]+|\\s+$", ""), "1");
  EXPECT_TRUE(RegexMatchesWhole(longest, "^(A|AA)+$"));
}

}  // namespace
}  // namespace quil
