// The demo trading page's orders: an order is taken only with a signature
// over exactly its text by the visiting customer's live certificate.
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

// A customer of the shared proxy with an issued certificate, its key, and
// the files a client certificate is presented from.
struct Customer {
  CustomerSeed seed;
  PKey key;
  std::string cert_der;
  std::string cert_path, key_path;
};

Customer IssuedCustomer(DevProxy& proxy, const std::string& tag) {
  Customer c;
  TestClient client(proxy);
  c.seed = UniqueCustomer(proxy);
  std::string session = client.Login(c.seed.aid, c.seed.password);
  Request req = MakeRequest(c.seed.idno + "-01");
  Reply issued = client.Aes("applyCert", {{"csr", req.csr}, {"userId", c.seed.idno}}, session);
  EXPECT_EQ(issued["rtnCode"], "0") << issued["rtnMsg"];
  c.key = std::move(req.key);
  c.cert_der = UserCertDer(issued["cert"]);
  const std::string dir = FreshDataDir("orders-" + tag);
  c.cert_path = dir + "/customer.crt";
  c.key_path = dir + "/customer.key";
  std::ofstream(c.cert_path) << DerToPem(c.cert_der);
  std::ofstream(c.key_path) << PrivateKeyPem(c.key.get());
  return c;
}

// POST /order as the customer: the answer's body.
nlohmann::json Post(const DevProxy& proxy, const Customer& visitor, const std::string& order,
                    const std::string& signature) {
  const int port = std::stoi(proxy.trading_url().substr(proxy.trading_url().rfind(':') + 1));
  httplib::SSLClient client("127.0.0.1", port, visitor.cert_path, visitor.key_path);
  client.set_ca_cert_path(proxy.ca_bundle_path().c_str());
  client.enable_server_certificate_verification(true);
  auto res = client.Post("/order", nlohmann::json{{"order", order}, {"signature", signature}}.dump(),
                         "application/json");
  if (!res) return nullptr;
  return nlohmann::json::parse(res->body, nullptr, false);
}

TEST(DevProxySignedOrders, TakesOnlyTheOrderTheCustomersLiveCertificateSigned) {
  DevProxy& proxy = SharedProxy();
  Customer customer = IssuedCustomer(proxy, "a");
  Customer other = IssuedCustomer(proxy, "b");
  const std::string cn = customer.seed.idno + "-01";
  const std::string order = "QUIL 示範網路下單委託\n委託人: " + cn + "\n商品代號: 2330\n買賣別: 買進\n數量: 1000 股";
  const std::string signature = SignText(customer.key.get(), customer.cert_der, order);
  // A certificate of its own making, with the customer's name.
  const std::string dir = FreshDataDir("orders-stranger");
  ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=" + cn + " -keyout " + dir +
                         "/k.pem -out " + dir + "/c.pem 2>/dev/null && openssl x509 -in " + dir +
                         "/c.pem -outform DER -out " + dir + "/c.der")
                            .c_str()),
            0);
  std::ifstream stranger_der_file(dir + "/c.der", std::ios::binary);
  const std::string stranger_der((std::istreambuf_iterator<char>(stranger_der_file)), {});
  std::ifstream stranger_key_file(dir + "/k.pem");
  const std::string stranger_key_pem((std::istreambuf_iterator<char>(stranger_key_file)), {});
  PKey self_made = LoadPrivateKeyPem(stranger_key_pem);

  const size_t before = proxy.TradingOrders().size();
  struct Case {
    const char* name;
    const Customer& visitor;
    std::string order;
    std::string signature;
    const char* reason;  // "" when taken
  } cases[] = {
      {"the customer's signature over the order", customer, order, signature, ""},
      {"another text than the one signed", customer, order + "0", signature, "the signed content differs"},
      {"another customer's signature", other, order, signature, "signed by another customer"},
      {"a certificate of another authority", customer, order, SignText(self_made.get(), stranger_der, order),
       "not of the demo authority"},
      {"no signature", customer, order, "", "not base64"},
      {"not a signature", customer, order, "TUlJQg==", "not a PKCS#7"},
      {"no order", customer, "", signature, "no order"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    nlohmann::json answer = Post(proxy, c.visitor, c.order, c.signature);
    ASSERT_TRUE(answer.is_object());
    EXPECT_EQ(answer["accepted"], std::string(c.reason).empty());
    if (std::string(c.reason).empty()) {
      EXPECT_EQ(answer["result"], "order accepted, signed by " + cn + ", serial " +
                                      proxy.Certificates(customer.seed.idno).back().serial);
    } else {
      EXPECT_NE(answer["result"].get<std::string>().find(c.reason), std::string::npos) << answer["result"];
    }
  }
  auto orders = proxy.TradingOrders();
  ASSERT_EQ(orders.size(), before + std::size(cases));
  EXPECT_TRUE(orders[before].accepted);
  EXPECT_EQ(orders[before].order, order);
  EXPECT_EQ(orders[before].cn, cn);

  // Revoked since it signed: the signature no longer carries an order.
  ASSERT_TRUE(proxy.SetCertStateForTesting(customer.seed.idno, "revoked"));
  nlohmann::json late = Post(proxy, customer, order, signature);
  EXPECT_EQ(late["accepted"], false);
  EXPECT_NE(late["result"].get<std::string>().find("not the customer's live certificate"), std::string::npos);

  // The record at the admin endpoint, oldest first.
  httplib::SSLClient admin("127.0.0.1", proxy.port());
  admin.set_ca_cert_path(proxy.ca_bundle_path().c_str());
  admin.enable_server_certificate_verification(true);
  auto res = admin.Get("/admin/orders", httplib::Headers{{"X-Admin-Token", proxy.admin_token()}});
  ASSERT_TRUE(res);
  auto list = nlohmann::json::parse(res->body);
  ASSERT_EQ(list.size(), before + std::size(cases) + 1);
  EXPECT_EQ(list[before]["accepted"], true);
  EXPECT_EQ(list[before]["order"], order);
  EXPECT_EQ(admin.Get("/admin/orders")->status, 403);
}

TEST(DevProxySignedOrders, TheTradingPageHasTheOrderFormAndTheTargetListHasThePage) {
  DevProxy& proxy = SharedProxy();
  Customer customer = IssuedCustomer(proxy, "form");
  const int port = std::stoi(proxy.trading_url().substr(proxy.trading_url().rfind(':') + 1));
  httplib::SSLClient client("127.0.0.1", port, customer.cert_path, customer.key_path);
  client.set_ca_cert_path(proxy.ca_bundle_path().c_str());
  client.enable_server_certificate_verification(true);
  auto res = client.Get("/");
  ASSERT_TRUE(res);
  EXPECT_NE(res->body.find("id=\"order-form\""), std::string::npos);
  EXPECT_NE(res->body.find("data-customer=\"" + customer.seed.idno + "-01\""), std::string::npos);
  // The operator's list of sites names the trading page, so it may ask.
  const std::string targets = proxy.SysCfg()["depCert.targetUrl"];
  EXPECT_NE(targets.find(proxy.trading_url()), std::string::npos) << targets;
}

}  // namespace
}  // namespace quil::devproxy::testing
