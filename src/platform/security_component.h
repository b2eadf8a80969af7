#pragma once
// The operator's browser security component: an automation class with a
// method GetVersion. On Windows it is a COM class; here it is a per-user
// local server registered in our hive as Windows registers one,
// HKEY_CURRENT_USER\Software\Classes\CLSID\{class id}\LocalServer32 with
// the program's path as the key's default value, and GetVersion is that
// program run with the one argument "GetVersion", whose first output line
// is the answer.
#include <chrono>
#include <optional>
#include <string>

namespace quil::platform {

// The version text (UTF-8) the component of class `class_id` (with its
// braces, "{...}") reports; nothing when it is not registered, cannot be
// started, fails, takes longer than `limit` or reports nothing. Blocks for
// at most about `limit`; a program still running then is ended.
std::optional<std::string> QueryComponentVersion(const std::string& class_id,
                                                 std::chrono::milliseconds limit = std::chrono::seconds(5));

}  // namespace quil::platform
