#pragma once
// Process-wide setup of the certificate engine tests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "cert/openssl_providers.h"
#include "proxy/settings.h"

namespace quil::testing {

// Loads the OpenSSL providers and fixes the time zone (UTC+8, no DST).
inline void PrepareCertTests() {
  static bool done = [] {
    std::string error;
    if (!LoadOpenSslProviders(&error)) ADD_FAILURE() << error;
    setenv("TZ", "Asia/Taipei", 1);
    tzset();
    return true;
  }();
  (void)done;
}

// Empties the settings map but leaves one marker entry in it: a lookup in
// an empty map would fetch the settings from the operator's proxy.
inline void UseLocalSettingsOnly() {
  ResetSettingsForTesting();
  setSetting("test.localSettings", "Y");
}

}  // namespace quil::testing
