#include "base/result_codes.h"

#include <cerrno>
#include <cstring>

namespace quil {
namespace {

std::string RemoveLineBreaks(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != '\r' && c != '\n') out.push_back(c);
  return out;
}

}  // namespace

const std::vector<ResultCodeRow>& ResultCodeTable() {
#define QUIL_RESULT_CODE_ROW(name, code, message) {code, #name, message},
  static const std::vector<ResultCodeRow> kTable = {QUIL_RESULT_CODES(QUIL_RESULT_CODE_ROW)};
#undef QUIL_RESULT_CODE_ROW
  return kTable;
}

const char* NameForCode(int code) {
  switch (code) {
#define QUIL_RESULT_CODE_NAME(name, code, message) \
  case code:                                       \
    return #name;
    QUIL_RESULT_CODES(QUIL_RESULT_CODE_NAME)
#undef QUIL_RESULT_CODE_NAME
    default:
      return nullptr;
  }
}

const char* MessageForCode(int code) {
  // A code listed twice does not compile.
  switch (code) {
#define QUIL_RESULT_CODE_CASE(name, code, message) \
  case code:                                       \
    return message;
    QUIL_RESULT_CODES(QUIL_RESULT_CODE_CASE)
#undef QUIL_RESULT_CODE_CASE
    default:
      return nullptr;
  }
}

std::string MakeErrorText(int code) {
  if (code == kOk) return {};
  std::string text = "<" + std::to_string(code) + ">";
  if (const char* m = MessageForCode(code)) text += m;
  return text;
}

std::string MakeSystemErrorText(int error, const std::string& reason) {
  if (error == 0) return {};
  if (reason.empty()) return "錯誤代碼:" + std::to_string(error);
  return RemoveLineBreaks(reason + "-" + std::to_string(error));
}

std::string MakeSystemErrorText(int error) {
  if (error == 0) return {};
  return MakeSystemErrorText(error, std::strerror(error));
}

std::string MakeSystemErrorText() { return MakeSystemErrorText(errno); }

std::string MakeSystemErrorTextWithPrefix(const std::string& prefix, const std::string& system_text) {
  return prefix + "[" + system_text + "]";
}

}  // namespace quil
