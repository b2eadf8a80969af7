#pragma once
// What a certificate workflow hands back to its method: the result code,
// the reply's errMsg and, for the workflows that hand an issued
// certificate to the page, that certificate and its application id.
#include <string>

#include "base/result_codes.h"

namespace quil::workflows {

struct [[nodiscard]] WorkflowResult {
  int code = kFailed;
  std::string message;  // errMsg (wide): the code's error text, or ""
  std::string b64Cert;  // the issued certificate (file store, second form)
  int applyId = 0;
};

// An exit after the dispatch: the code with its error text.
inline WorkflowResult EndedWith(int code) { return {code, MakeErrorText(code), "", 0}; }

// The store setting names neither store: nothing happens, no message.
inline WorkflowResult UnknownStore() { return {kFailed, "", "", 0}; }

}  // namespace quil::workflows
