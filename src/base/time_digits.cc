#include "base/time_digits.h"

#include <cstdio>

namespace quil {

std::string TimeDigits(const std::tm& tm) {
  char out[32];
  return std::strftime(out, sizeof out, "%Y%m%d%H%M%S", &tm) ? out : "";
}

std::string TimeDigitsWithMillis(const std::tm& tm, int millis) {
  char out[64];
  std::snprintf(out, sizeof out, "%04d%02d%02d%02d%02d%02d%03d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec, millis);
  return out;
}

}  // namespace quil
