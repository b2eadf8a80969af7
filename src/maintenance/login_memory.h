#pragma once
// The remembered login: how the customer logged in last, with what and at
// which branch, kept in the registry hive under
// Software\MERO\QUIL\PELISecuritiesLoginInfo. Nothing is cached.
#include <string>

namespace quil {

struct LoginInfo {
  std::string type;    // "acc", "id", or "" when not remembered
  std::string value;   // the account or identity number entered
  std::string branch;  // the text of the chosen branch entry
};

// Writes the three values (wide text). Registry failures are not reported.
void setLoginInfo(const LoginInfo& info);

// Reads the three values; a missing key or value reads as "".
LoginInfo getLoginInfo();

}  // namespace quil
