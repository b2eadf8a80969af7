#pragma once
// Process-wide setup of the certificate engine tests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "base/settings.h"
#include "cert/openssl_providers.h"

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

// Empties the settings map. The engine's tests install no loader, so a
// lookup sees only what the test wrote and never reaches a proxy.
inline void UseLocalSettingsOnly() { ResetSettingsForTesting(); }

}  // namespace quil::testing
