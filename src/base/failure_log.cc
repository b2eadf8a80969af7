#include "base/failure_log.h"

#include "base/openssl_ptr.h"
#include "base/result_codes.h"
#include "platform/diagnostic_log.h"

namespace quil {

void LogFailure(const char* layer, const std::string& operation, int code, const std::string& reason) {
  const char* name = NameForCode(code);
  platform::WriteLog({platform::LogLevel::kError, layer, operation, name ? name : std::to_string(code), reason});
}

void LogOpenSslFailure(const char* layer, const std::string& operation, int code) {
  LogFailure(layer, operation, code, ossl::TakeErrorText());
}

}  // namespace quil
