#pragma once
// UTF-8 <-> UTF-16 at the wide Windows calls, paths in both spellings, and
// the text of a Windows error number. Windows implementation files only.
#include <windows.h>

#include <string>

namespace quil::platform::win {

std::wstring Utf16(const std::string& utf8);
std::string Utf8(const wchar_t* text, size_t length);
std::string Utf8(const std::wstring& text);

// The program's paths use "/"; Windows calls get "\".
std::wstring NativePath(const std::string& path);
std::string PortablePath(const std::wstring& path);

// FormatMessageW's text for `error`, without the trailing line break;
// "error N" when the system has no text for it.
std::string ErrorText(DWORD error);

}  // namespace quil::platform::win
