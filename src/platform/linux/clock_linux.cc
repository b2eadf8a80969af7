#include "platform/clock.h"

#include <sys/time.h>

namespace quil::platform {

std::time_t UtcToTime(std::tm* utc) { return timegm(utc); }

bool ToLocalTime(std::time_t when, std::tm* local) { return localtime_r(&when, local) != nullptr; }

LocalNow CurrentLocalTime() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  LocalNow now;
  std::time_t secs = tv.tv_sec;
  localtime_r(&secs, &now.tm);
  now.millis = static_cast<int>(tv.tv_usec / 1000);
  return now;
}

}  // namespace quil::platform
