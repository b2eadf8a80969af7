#pragma once
// Text helpers. Narrow text is code page 950: a lead byte 0x81-0xFE and the
// byte after it are one character, and that second byte may equal an ASCII
// character (功 is A5 5C, 許 is B3 5C, 錯 is BF F9). Code that looks for an
// ASCII character in narrow text must step character by character.
#include <string>
#include <string_view>
#include <vector>

namespace quil {

// The length in bytes (1 or 2) of the narrow character starting at `at`.
size_t NarrowCharLength(std::string_view narrow, size_t at);

// Every backslash that is a character of its own becomes two.
std::string DoubleBackslashes(std::string_view narrow);

// Every "/" and "\" that is a character of its own becomes `separator`.
std::string WithSeparator(std::string_view narrow, char separator);

// The text after the last "/" or "\" that is a character of its own; all of
// `narrow` when it has none.
std::string LastPathElement(std::string_view narrow);

// `text` without the ASCII white space (space, \t \n \v \f \r) at both ends.
std::string TrimSpace(std::string_view text);

// Every occurrence of `from` (not empty) replaced by `to`, left to right,
// as plain text ("$" in `to` is no group reference).
std::string ReplaceAll(std::string text, std::string_view from, std::string_view to);

// The non-empty pieces of `text` between `separator`s, in order. The
// separator must be a byte below 0x40, which is never the second byte of a
// narrow character (",", ";", ":").
std::vector<std::string> SplitNonEmpty(std::string_view text, char separator);

}  // namespace quil
