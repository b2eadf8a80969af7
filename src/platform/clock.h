#pragma once
// Calendar conversions and the wall clock in the user's time zone.
#include <ctime>

namespace quil::platform {

// The instant of a broken-down UTC time (timegm); -1 when it has none.
std::time_t UtcToTime(std::tm* utc);

// The local broken-down time of an instant; false when it has none.
bool ToLocalTime(std::time_t when, std::tm* local);

// Now, in local time, with its milliseconds.
struct LocalNow {
  std::tm tm{};
  int millis = 0;
};
LocalNow CurrentLocalTime();

}  // namespace quil::platform
