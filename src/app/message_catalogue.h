#pragma once
// The result-code catalogue and the texts made from it. Result codes are
// plain integers: 0 success, 1 the generic failure, the rest ids of the
// catalogue. All texts here are wide (UTF-8).
#include <string>

namespace quil {

constexpr int kOk = 0;
constexpr int kFailed = 1;

// The catalogue's message for `code`, or nullptr when it has none.
const char* MessageForCode(int code);

// "" for 0; otherwise "<code>" followed by the code's message, if any.
std::string MakeErrorText(int code);

// The text of a system error: "" for 0, else "reason-error" with line
// breaks removed, or "錯誤代碼:error" when there is no reason text.
std::string MakeSystemErrorText(int error, const std::string& reason);
// The same with the C library's text for an errno value.
std::string MakeSystemErrorText(int error);
// The same for the current errno.
std::string MakeSystemErrorText();

// The bracketed form: prefix + "[" + system text + "]". Callers pass the
// system text they captured right after the failure (errno or OpenSSL).
std::string MakeSystemErrorTextWithPrefix(const std::string& prefix,
                                          const std::string& system_text);

}  // namespace quil
