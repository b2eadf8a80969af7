#include "proxy/common_name.h"

namespace quil {

// Until the getCn action is wired, no common name is known.
std::string CommonNameFromIdno(const std::string&) { return {}; }

}  // namespace quil
