#pragma once
// Regular expressions on narrow text, written in the ECMAScript grammar with
// its leftmost, backtracking meaning, run on a linear-time engine: time grows
// with the length of the text, never exponentially, and no text is long
// enough to exhaust the stack.
//
// Conventions: each byte is one character; "^" and "$" also match right
// after and right before a line feed; "." matches any byte but line feed and
// carriage return; "\s" is space, tab, line feed, vertical tab, form feed or
// carriage return. In a replacement, "$1".."$99" stand for the numbered
// groups (empty when a group took no part), "$&" for the match, "$`" and "$'"
// for the text before and after it, "$$" for "$".
//
// Patterns the engine cannot run in linear time (back-references,
// look-around) do not compile.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quil {

class Regex {
 public:
  // Nothing when `pattern` does not compile.
  static std::optional<Regex> Compile(std::string_view pattern);

  // Replaces every match, copying the unmatched parts. After an empty match
  // the search goes on one character further.
  std::string Replace(std::string_view text, std::string_view format) const;
  // Outputs only the replacement texts of the matches ("" when none matches).
  std::string ReplaceMatchesOnly(std::string_view text, std::string_view format) const;
  // True when the pattern matches the whole of `text`.
  bool MatchesWhole(std::string_view text) const;
  // The groups of the first match (index 0: the match itself; a group that
  // took no part is nullopt), or nothing when no match is found.
  std::optional<std::vector<std::optional<std::string>>> Search(std::string_view text) const;

  struct Engine;

 private:
  explicit Regex(std::shared_ptr<const Engine> engine) : engine_(std::move(engine)) {}
  std::string ReplaceAll(std::string_view text, std::string_view format, bool copy_unmatched) const;
  std::shared_ptr<const Engine> engine_;
};

// The same operations on patterns fixed in the program, compiled once per
// pattern text. A pattern that does not compile matches nothing.
std::string RegexReplace(std::string_view text, std::string_view pattern, std::string_view format);
std::string RegexReplaceMatchesOnly(std::string_view text, std::string_view pattern,
                                    std::string_view format);
bool RegexMatchesWhole(std::string_view text, std::string_view pattern);
std::optional<std::vector<std::optional<std::string>>> RegexSearch(std::string_view text,
                                                                   std::string_view pattern);

}  // namespace quil
