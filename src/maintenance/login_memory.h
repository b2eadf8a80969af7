#pragma once
// The remembered login: how the customer logged in last, with what and at
// which branch, kept in the registry hive under
// Software\MERO\QUIL\PELISecuritiesLoginInfo. Nothing is cached. The
// texts are narrow (code page 950); the hive holds them widened.
#include <string>

namespace quil {

struct LoginInfo {
  std::string type;    // "acc", "id", or "" when not remembered
  std::string value;   // the account or identity number entered
  std::string branch;  // the text of the chosen branch entry
};

// Writes the three values. Registry failures are not reported.
void setLoginInfo(const LoginInfo& info);

// Reads the three values, narrowed as every text from outside is (what
// code page 950 lacks becomes "?"); a missing key or value reads as "".
LoginInfo getLoginInfo();

}  // namespace quil
