#pragma once
// Failures into the diagnostic log (platform/diagnostic_log.h), named by
// their result code. Pass names and library texts only: never a password,
// key, token or session key.
#include <string>

namespace quil {

// Logs that `operation` of `layer` ended with `code` because of `reason`.
void LogFailure(const char* layer, const std::string& operation, int code, const std::string& reason);

// The same with OpenSSL's queued reason, taken from the queue (it is empty
// afterwards, so a later failure does not report this one's reason).
void LogOpenSslFailure(const char* layer, const std::string& operation, int code);

}  // namespace quil
