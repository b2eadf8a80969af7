#include "platform/text_codec.h"

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
  int n = WideCharToMultiByte(kBig5, 0, chars.data(), static_cast<int>(chars.size()), nullptr, 0, "?", nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(kBig5, 0, chars.data(), static_cast<int>(chars.size()), out.data(), n, "?", nullptr);
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
