#include "proxy/common_name.h"

#include "proxy/actions.h"

namespace quil {

std::string CommonNameFromIdno(const std::string& idno) { return proxy::getCn(idno); }

}  // namespace quil
