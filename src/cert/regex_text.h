#pragma once
// Regular-expression replacement with the engine's conventions: ECMAScript
// grammar, "^" and "$" also matching next to a line feed, "$1".."$9" in the
// replacement. Compiled patterns are cached per pattern text.
#include <string>

namespace quil {

// Replaces every match of `pattern` in `text`, copying unmatched parts.
std::string RegexReplace(const std::string& text, const std::string& pattern, const std::string& format);
// Outputs only the replacement texts of the matches ("" when none matches).
std::string RegexReplaceMatchesOnly(const std::string& text, const std::string& pattern,
                                    const std::string& format);
// True when `pattern` matches the whole of `text`.
bool RegexMatchesWhole(const std::string& text, const std::string& pattern);

}  // namespace quil
