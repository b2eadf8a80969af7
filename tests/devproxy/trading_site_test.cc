// The demo trading page: who it lets in and what it records.
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "test_client.h"

namespace quil::devproxy::testing {
namespace {

struct Visitor {
  std::string cert_path, key_path;  // "" for a visit without a certificate
};

// GET / of the trading page with the visitor's certificate.
httplib::Result Visit(const DevProxy& proxy, const Visitor& v) {
  const int port = std::stoi(proxy.trading_url().substr(proxy.trading_url().rfind(':') + 1));
  auto client = v.cert_path.empty()
                    ? std::make_unique<httplib::SSLClient>("127.0.0.1", port)
                    : std::make_unique<httplib::SSLClient>("127.0.0.1", port, v.cert_path, v.key_path);
  client->set_ca_cert_path(proxy.ca_bundle_path().c_str());
  client->enable_server_certificate_verification(true);
  return client->Get("/");
}

TEST(DevProxyTradingPage, LetsInCertificatesOfTheDemoAuthorityOnly) {
  DevProxy& proxy = SharedProxy();
  TestClient client(proxy);
  CustomerSeed seed = UniqueCustomer(proxy);
  std::string key = client.Login(seed.aid, seed.password);
  Request req = MakeRequest(seed.idno + "-01");
  Reply issued = client.Aes("applyCert", {{"csr", req.csr}, {"userId", seed.idno}}, key);
  ASSERT_EQ(issued["rtnCode"], "0") << issued["rtnMsg"];

  const std::string dir = FreshDataDir("trading");
  Visitor customer{dir + "/customer.crt", dir + "/customer.key"};
  std::ofstream(customer.cert_path) << DerToPem(UserCertDer(issued["cert"]));
  std::ofstream(customer.key_path) << PrivateKeyPem(req.key.get());
  Visitor stranger{dir + "/stranger.crt", dir + "/stranger.key"};
  ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=stranger -keyout " +
                         stranger.key_path + " -out " + stranger.cert_path + " 2>/dev/null")
                            .c_str()),
            0);

  const size_t before = proxy.TradingVisits().size();
  struct Case {
    const char* name;
    const Visitor& visitor;
    int status;
    bool accepted;
  } cases[] = {
      {"the customer's certificate", customer, 200, true},
      {"no certificate", Visitor{}, 403, false},
      {"a certificate of another authority", stranger, 403, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto res = Visit(proxy, c.visitor);
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->status, c.status);
    if (c.accepted) {
      EXPECT_NE(res->body.find(seed.idno + "-01"), std::string::npos) << res->body;
    }
  }

  auto visits = proxy.TradingVisits();
  ASSERT_EQ(visits.size(), before + 3);
  EXPECT_TRUE(visits[before].accepted);
  EXPECT_EQ(visits[before].serial, issued.blocks["certInfo"]["serial"]);
  EXPECT_FALSE(visits[before + 1].accepted);
  EXPECT_EQ(visits[before + 1].subject, "");
  EXPECT_FALSE(visits[before + 2].accepted);
  EXPECT_NE(visits[before + 2].subject.find("stranger"), std::string::npos);

  // The same record at the admin endpoint.
  httplib::SSLClient admin("127.0.0.1", proxy.port());
  admin.set_ca_cert_path(proxy.ca_bundle_path().c_str());
  admin.enable_server_certificate_verification(true);
  auto res = admin.Get("/admin/trading-visits", httplib::Headers{{"X-Admin-Token", proxy.admin_token()}});
  ASSERT_TRUE(res);
  auto list = nlohmann::json::parse(res->body);
  ASSERT_EQ(list.size(), before + 3);
  EXPECT_EQ(list[before]["accepted"], true);
  EXPECT_EQ(list[before]["serial"], visits[before].serial);
  EXPECT_EQ(admin.Get("/admin/trading-visits")->status, 403);
}

}  // namespace
}  // namespace quil::devproxy::testing
