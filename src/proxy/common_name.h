#pragma once
#include <string>

namespace quil {

// The certificate's common name for an identity number, through the proxy
// action getCn (cached in the settings); "" when the proxy gives none.
// Narrow in and out. Application thread only.
std::string CommonNameFromIdno(const std::string& idno);

}  // namespace quil
