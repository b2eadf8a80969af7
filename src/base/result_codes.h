#pragma once
// Result codes and the texts made from them. A result code is a plain
// integer: 0 success, 1 the generic failure, the rest ids of the catalogue
// (base/result_code_list.h), where each code has the name that code uses
// for it. All texts here are wide (UTF-8).
#include <string>
#include <vector>

#include "base/result_code_list.h"

namespace quil {

#define QUIL_RESULT_CODE_CONSTANT(name, code, message) inline constexpr int name = code;
QUIL_RESULT_CODES(QUIL_RESULT_CODE_CONSTANT)
#undef QUIL_RESULT_CODE_CONSTANT

struct ResultCodeRow {
  int code;
  const char* name;
  const char* message;  // nullptr: no text of its own
};
// Every row of the catalogue, in table order.
const std::vector<ResultCodeRow>& ResultCodeTable();

// The code's name in the catalogue (kPfxFileWrongPassword), or nullptr for
// a code it does not list.
const char* NameForCode(int code);

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
std::string MakeSystemErrorTextWithPrefix(const std::string& prefix, const std::string& system_text);

}  // namespace quil
