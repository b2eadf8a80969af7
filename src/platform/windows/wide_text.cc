#include "platform/windows/wide_text.h"

namespace quil::platform::win {

std::wstring Utf16(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Utf8(const wchar_t* text, size_t length) {
  if (!text || length == 0) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
  return out;
}

std::string Utf8(const std::wstring& text) { return Utf8(text.data(), text.size()); }

std::wstring NativePath(const std::string& path) {
  std::wstring out = Utf16(path);
  for (auto& c : out)
    if (c == L'/') c = L'\\';
  return out;
}

std::string PortablePath(const std::wstring& path) {
  std::string out = Utf8(path);
  for (auto& c : out)
    if (c == '\\') c = '/';
  return out;
}

std::string ErrorText(DWORD error) {
  wchar_t* buf = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, error, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  std::string text = n ? Utf8(buf, n) : std::string();
  if (buf) LocalFree(buf);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  if (text.empty()) {
    char hex[32];
    snprintf(hex, sizeof hex, "error 0x%08lX", static_cast<unsigned long>(error));
    text = hex;
  }
  return text;
}

}  // namespace quil::platform::win
