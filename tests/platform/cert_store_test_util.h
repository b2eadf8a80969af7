#pragma once
// What the certificate store tests of every platform share: one test key
// and certificates issued with it.
#include <gtest/gtest.h>
#include <openssl/provider.h>

#include <string>

#include "cert/test_pki.h"

namespace quil::platform {

inline void LoadProviders() {
  // The handles stay referenced: the providers live as long as the process.
  static OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  static OSSL_PROVIDER* fallback = OSSL_PROVIDER_load(nullptr, "default");
  ASSERT_TRUE(legacy && fallback);
}

inline testing::TestKey& Key() {
  static auto* key = new testing::TestKey(testing::NewTestKey(1024));
  return *key;
}

inline std::string Cert(const std::string& cn, const std::string& serial, const std::string& not_before = "250101000000Z") {
  testing::CertTemplate tmpl{{{"CN", cn}}, serial, testing::Constraints::kEndEntity, not_before};
  return testing::IssueCert(tmpl, Key().key, {{"CN", "Issuer"}}, Key().key);
}

}  // namespace quil::platform
