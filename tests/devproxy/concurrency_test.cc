// Fifty customers at once: logins and applications in parallel over
// loopback. Every certificate must be recorded once, under its customer,
// and no reply may come back under another customer's session.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "base/base64.h"
#include "test_client.h"

namespace quil::devproxy::testing {
namespace {

TEST(DevProxyConcurrency, FiftyParallelLoginsAndApplications) {
  constexpr int kClients = 50;
  Options o = TestOptions("parallel");
  auto proxy = DevProxy::Start(o, nullptr);
  ASSERT_TRUE(proxy);
  TestClient client(*proxy);
  std::vector<CustomerSeed> customers;
  std::vector<Request> requests;
  for (int i = 0; i < kClients; ++i) {
    customers.push_back(UniqueCustomer(*proxy));
    requests.push_back(MakeRequest(customers.back().idno + "-01"));
  }
  struct Outcome {
    std::string error;
    std::string serial, cert_cn, info_cn;
  };
  std::vector<Outcome> out(kClients);
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i) {
    threads.emplace_back([&, i] {
      const CustomerSeed& c = customers[i];
      Outcome& o = out[i];
      std::string key = client.Login(c.aid, c.password);
      if (key.empty()) return void(o.error = "login refused");
      Reply cn = client.Aes("getCn", {{"userId", c.idno}}, key);
      if (cn["cn"] != c.idno + "-01") return void(o.error = "getCn gave " + cn["cn"]);
      // Both calls at once from the same customer may issue only one.
      Reply a = client.Aes("applyCert", {{"csr", requests[i].csr}, {"userId", c.idno}}, key);
      if (a["rtnCode"] != "0")
        return void(o.error = "applyCert " + a["rtnCode"] + " " + a["rtnMsg"] + " status " + std::to_string(a.status));
      o.serial = a.blocks["certInfo"]["serial"];
      o.info_cn = a.blocks["certInfo"]["cn"];
      o.cert_cn = CertCn(UserCertDer(a["cert"]));
      Reply act = client.Aes("activeCert", {{"certApplyId", a.blocks["certInfo"]["certId"]}, {"certPath", ""}}, key);
      if (act["rtnCode"] != "0") return void(o.error = "activeCert " + act["rtnCode"]);
      Reply fn = client.Aes("getFnStatus", {{"cn", c.idno + "-01"}}, key);
      if (fn["fnStatus"] != "00111")
        o.error = "fnStatus " + fn["fnStatus"] + " status " + std::to_string(fn.status) + " " + fn.text;
    });
  }
  for (auto& t : threads) t.join();

  std::set<std::string> serials;
  bool leading_zero_seen = false;
  for (int i = 0; i < kClients; ++i) {
    SCOPED_TRACE(customers[i].idno);
    EXPECT_EQ(out[i].error, "");
    EXPECT_EQ(out[i].cert_cn, customers[i].idno + "-01");
    EXPECT_EQ(out[i].info_cn, customers[i].idno + "-01");
    serials.insert(out[i].serial);
  }
  EXPECT_EQ(serials.size(), static_cast<size_t>(kClients));
  auto all = proxy->AllCertificates();
  size_t pc = 0;
  for (const auto& r : all) {
    if (r.mobile) continue;
    ++pc;
    EXPECT_EQ(r.state, "0");
    EXPECT_EQ(serials.count(r.serial), 1u) << r.serial;
    EXPECT_EQ(r.cn, r.idno + "-01");
    leading_zero_seen |= SerialHasLeadingZero(base64Decode(r.der_base64));
  }
  EXPECT_EQ(pc, static_cast<size_t>(kClients)) << "each certificate recorded exactly once";
  // Random 64-bit serials: with fifty of them, some have the top bit set.
  EXPECT_TRUE(leading_zero_seen);
}

TEST(DevProxyConcurrency, DuplicateApplicationsIssueOnce) {
  DevProxy& proxy = SharedProxy();
  TestClient client(proxy);
  CustomerSeed c = UniqueCustomer(proxy);
  std::string key = client.Login(c.aid, c.password);
  std::vector<std::string> certs(8);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, i] {
      Request r = MakeRequest(c.idno + "-01");
      certs[i] = client.Aes("applyCert", {{"csr", r.csr}, {"userId", c.idno}}, key)["cert"];
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(proxy.Certificates(c.idno).size(), 1u);
  for (const auto& cert : certs) EXPECT_EQ(cert, certs[0]) << "all get the one issued certificate";
}

}  // namespace
}  // namespace quil::devproxy::testing
