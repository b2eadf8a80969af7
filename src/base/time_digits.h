#pragma once
// Calendar times as the digits file names and certificate records use.
#include <ctime>
#include <string>

namespace quil {

// "YYYYMMDDhhmmss" (14 digits) of `tm`; "" when it cannot be formatted.
std::string TimeDigits(const std::tm& tm);

// "YYYYMMDDhhmmssmmm" (17 digits): `tm` and its milliseconds.
std::string TimeDigitsWithMillis(const std::tm& tm, int millis);

}  // namespace quil
