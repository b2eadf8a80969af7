#include "platform/text_codec.h"

#include <optional>

#include "platform/windows/wide_text.h"

namespace quil::platform {
namespace {

constexpr UINT kBig5 = 950;

bool IsAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

std::wstring Decode(UINT code_page, std::string_view in) {
  if (in.empty()) return {};
  int n = MultiByteToWideChar(code_page, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(code_page, 0, in.data(), static_cast<int>(in.size()), out.data(), n);
  return out;
}

// `chars` in code page 950 when every character has a code of its own
// there: nothing when the system used its default character or a best-fit
// substitute (the bytes would not decode to the same text).
std::optional<std::string> EncodeExactly(const std::wstring& chars) {
  const int len = static_cast<int>(chars.size());
  BOOL used_default = FALSE;
  int n = WideCharToMultiByte(kBig5, WC_NO_BEST_FIT_CHARS, chars.data(), len, nullptr, 0, "?", &used_default);
  if (n <= 0 || used_default) return std::nullopt;
  std::string out(static_cast<size_t>(n), '\0');
  used_default = FALSE;
  WideCharToMultiByte(kBig5, WC_NO_BEST_FIT_CHARS, chars.data(), len, out.data(), n, "?", &used_default);
  if (used_default || Decode(kBig5, out) != chars) return std::nullopt;
  return out;
}

}  // namespace

std::string ToNarrow(std::string_view wide) {
  if (IsAscii(wide)) return std::string(wide);
  // Malformed UTF-8 decodes to U+FFFD, which code page 950 cannot hold
  // either: both end as the default character "?".
  std::wstring utf16 = Decode(CP_UTF8, wide);
  // One "?" per character: a surrogate pair is one character.
  std::wstring chars;
  chars.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    wchar_t c = utf16[i];
    bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF;
    chars.push_back(pair ? L'?' : c);
    if (pair) ++i;
  }
  if (chars.empty()) return {};
  // Without best fit: the system would otherwise write look-alikes (e -> é,
  // an ASCII quote for a full-width one), which could slip past a check.
  if (auto whole = EncodeExactly(chars)) return *whole;
  std::string out;
  for (wchar_t c : chars) out += EncodeExactly(std::wstring(1, c)).value_or("?");
  return out;
}

std::string ToWide(std::string_view narrow) {
  if (IsAscii(narrow)) return std::string(narrow);
  std::wstring utf16 = Decode(kBig5, narrow);
  // Bytes that do not decode come back as the code page's default
  // character; the program's convention is "?".
  for (auto& c : utf16)
    if (c == 0xFFFD || c == 0xF8F8) c = L'?';
  return win::Utf8(utf16);
}

}  // namespace quil::platform
