#include "platform/clock.h"

#include <windows.h>

namespace quil::platform {

std::time_t UtcToTime(std::tm* utc) { return _mkgmtime(utc); }

bool ToLocalTime(std::time_t when, std::tm* local) { return localtime_s(local, &when) == 0; }

LocalNow CurrentLocalTime() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  LocalNow now;
  now.tm.tm_year = st.wYear - 1900;
  now.tm.tm_mon = st.wMonth - 1;
  now.tm.tm_mday = st.wDay;
  now.tm.tm_hour = st.wHour;
  now.tm.tm_min = st.wMinute;
  now.tm.tm_sec = st.wSecond;
  now.tm.tm_wday = st.wDayOfWeek;
  now.tm.tm_isdst = -1;
  now.millis = st.wMilliseconds;
  return now;
}

}  // namespace quil::platform
