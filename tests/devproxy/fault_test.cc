// Fault injection, the admin endpoint, bad input and the operator pages.
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>

#include "base/base64.h"
#include "devproxy/form.h"
#include "proxy/transport.h"
#include "test_client.h"

namespace quil::devproxy::testing {
namespace {

std::unique_ptr<DevProxy> StartProxy(const std::string& tag, Options o = {}) {
  o.data_dir = FreshDataDir(tag);
  o.key_set = quil::testing::TestKeySet();
  std::string error;
  auto proxy = DevProxy::Start(o, &error);
  EXPECT_TRUE(proxy) << error;
  return proxy;
}

TEST(DevProxyFaults, EachKindReachesTheClient) {
  auto proxy = StartProxy("faults");
  ASSERT_TRUE(proxy);
  TestClient client(*proxy);
  struct Case {
    const char* name;
    const char* fault_text;
    int status;      // 0: the exchange fails
    bool parsed;
    const char* rtn_code;
  } kCases[] = {
      {"malformed XML", "malformed", 200, false, ""},
      {"no root", "noroot", 200, false, ""},
      {"chosen rtnCode", "rtn:1001:帳號已鎖定", 200, true, "1001"},
      {"HTTP status", "status:503", 503, false, ""},
      {"empty body", "empty", 200, false, ""},
      {"dropped connection", "drop", 0, false, ""},
      {"answer lost after the work", "lost", 0, false, ""},
      {"delay only", "delay:300", 200, true, "0"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    auto fault = ParseFault(c.fault_text);
    ASSERT_TRUE(fault);
    proxy->SetFault("checkVersion", *fault);
    auto start = std::chrono::steady_clock::now();
    Reply r = client.Rsa("checkVersion", {{"version", "1.9"}});
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.parsed, c.parsed) << r.text;
    EXPECT_EQ(r["rtnCode"], c.rtn_code);
    if (std::string(c.fault_text) == "rtn:1001:帳號已鎖定") {
      EXPECT_EQ(r["rtnMsg"], "帳號已鎖定");
    }
    if (std::string(c.fault_text) == "delay:300") {
      EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    }
    // Other actions are untouched.
    EXPECT_EQ(client.Rsa("getSysCfg", {{"version", "1.9"}})["rtnCode"], "0");
  }
  proxy->ClearFaults();
  EXPECT_EQ(client.Rsa("checkVersion", {{"version", "1.9"}})["rtnCode"], "0");
}

TEST(DevProxyFaults, SessionRepliesAndCountedFaults) {
  auto proxy = StartProxy("faults-session");
  ASSERT_TRUE(proxy);
  TestClient client(*proxy);
  CustomerSeed c = UniqueCustomer(*proxy);
  std::string key = client.Login(c.aid, c.password);
  proxy->SetFault("*", *ParseFault("malformed,times:2"));
  Reply r = client.Aes("getCn", {{"userId", c.idno}}, key);
  EXPECT_EQ(r.status, 200);
  EXPECT_FALSE(r.text.empty()) << "sealed with the session key";
  EXPECT_FALSE(r.parsed);
  EXPECT_FALSE(client.Rsa("getSysCfg", {}).parsed);
  EXPECT_EQ(client.Aes("getCn", {{"userId", c.idno}}, key)["rtnCode"], "0") << "two calls only";
}

TEST(DevProxyFaults, SpecsThatDoNotParse) {
  for (const char* fault_text : {"", "melted", "status:99", "status:abc", "delay:-5", "times:0", "rtn:"}) {
    SCOPED_TRACE(fault_text);
    EXPECT_FALSE(ParseFault(fault_text));
  }
  auto f = ParseFault("delay:250,status:502,times:3");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->kind, Fault::Kind::kHttpStatus);
  EXPECT_EQ(f->http_status, 502);
  EXPECT_EQ(f->delay_ms, 250);
  EXPECT_EQ(f->times, 3);
  Options o;
  o.faults = "doLogin=warp";
  o.data_dir = FreshDataDir("badfault");
  o.key_set = quil::testing::TestKeySet();
  std::string error;
  EXPECT_FALSE(DevProxy::Start(o, &error));
  EXPECT_NE(error.find("doLogin=warp"), std::string::npos);
}

TEST(DevProxyFaults, StartOptionFaults) {
  Options o;
  o.faults = "doLogin=rtn:1003;qryBranchAll=status:500";
  auto proxy = StartProxy("startfaults", o);
  ASSERT_TRUE(proxy);
  TestClient client(*proxy);
  EXPECT_EQ(client.Rsa("doLogin", {{"aid", "9A000000001"}, {"pw", "demo1234"}})["rtnCode"], "1003");
  EXPECT_EQ(client.Rsa("qryBranchAll", {}).status, 500);
}

TEST(DevProxyAdmin, RequiresItsTokenAndDrivesTheProxy) {
  auto proxy = StartProxy("admin");
  ASSERT_TRUE(proxy);
  httplib::SSLClient cli("127.0.0.1", proxy->port());
  cli.set_ca_cert_path(proxy->ca_bundle_path().c_str());
  cli.enable_server_certificate_verification(true);
  const char* json = "application/json";
  std::string fault = R"({"action":"getSysCfg","fault":"rtn:7"})";
  auto res = cli.Post("/admin/fault", fault, json);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 403);
  res = cli.Post("/admin/fault", httplib::Headers{{"X-Admin-Token", "wrong"}}, fault, json);
  EXPECT_EQ(res->status, 403);
  httplib::Headers auth{{"X-Admin-Token", proxy->admin_token()}};
  TestClient client(*proxy);
  EXPECT_EQ(client.Rsa("getSysCfg", {})["rtnCode"], "0") << "the refused requests changed nothing";

  struct Case {
    const char* name;
    const char* path;
    const char* body;
    int status;
  } kCases[] = {
      {"fault", "/admin/fault", R"({"action":"getSysCfg","fault":"rtn:7"})", 200},
      {"bad fault", "/admin/fault", R"({"action":"getSysCfg","fault":"nonsense"})", 400},
      {"not JSON", "/admin/fault", "action=getSysCfg", 400},
      {"profile", "/admin/profile", R"({"name":"store"})", 200},
      {"bad profile", "/admin/profile", R"({"name":"tape"})", 400},
      {"version", "/admin/version", R"({"available":"false","notice":"N"})", 200},
      {"policy", "/admin/policy", R"({"validDays":15,"renewWindowDays":30})", 200},
      {"bad policy", "/admin/policy", R"({"validDays":0})", 400},
      {"customer", "/admin/customer",
       R"({"idno":"Q100000001","password":"abc12345","branch":"9A00","account":"7654321","birthday":"19700101","email":"q@example.com","sheetCodes":["ZX98CV"]})", 200},
      {"duplicate customer", "/admin/customer",
       R"({"idno":"Q100000001","password":"abc12345","branch":"9A00","account":"7654322"})", 400},
      {"state of no certificate", "/admin/cert-state", R"({"idno":"Q100000001","state":"issued"})", 400},
      {"unknown", "/admin/teleport", "{}", 404},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    res = cli.Post(c.path, auth, c.body, json);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, c.status) << res->body;
  }
  EXPECT_EQ(client.Rsa("getSysCfg", {})["rtnCode"], "7");
  EXPECT_EQ(client.Rsa("checkVersion", {{"version", "1.9"}})["available"], "false");
  EXPECT_EQ(proxy->issue_policy().valid_days, 15);
  EXPECT_FALSE(client.Login("9A007654321", "abc12345").empty());
  for (int i = 0; i < 3; ++i) client.Login("9A007654321", "wrong999");
  EXPECT_TRUE(client.Login("9A007654321", "abc12345").empty());
  res = cli.Post("/admin/unlock", auth, R"({"idno":"q100000001"})", json);
  EXPECT_EQ(res->status, 200);
  EXPECT_FALSE(client.Login("9A007654321", "abc12345").empty()) << "unlocked";
  res = cli.Post("/admin/faults/clear", auth, "", json);
  EXPECT_EQ(client.Rsa("getSysCfg", {})["cert.expType"], "ieCertStore");
  res = cli.Get("/admin/certs?idno=Q100000001", auth);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body, "[]");
  EXPECT_EQ(cli.Get("/admin/audit")->status, 403);
}

TEST(DevProxyBadInput, RefusedNeverCrashes) {
  DevProxy& proxy = SharedProxy();
  TestClient client(proxy);
  PKey other = LoadPrivateKeyPem(quil::testing::TestKeyPem("stranger"));
  std::string foreign = SealRsaField(other.get(), "9A000000001").value();
  PKey ours = LoadPublicKeyPem(proxy.public_key_pem());
  std::string pw = SealRsaField(ours.get(), "demo1234").value();
  // Forty sealed fields: a form far above 8 KB, still a normal request.
  Fields many;
  for (int i = 0; i < 40; ++i) many["f" + std::to_string(100 + i)] = SealRsaField(ours.get(), "x").value();
  many["memo"] = SealRsaField(ours.get(), "big form").value();
  struct Case {
    const char* name;
    std::string path, body;
    int status;
    const char* rtn_code;  // for signed replies
  } kCases[] = {
      {"large form", "/PELIProxy/proxy/writeLog2", proxy::formEncode(many), 200, "0"},
      {"field not base64", "/PELIProxy/proxy/doLogin", "aid=%24%24%24&pw=" + pw, 200, "9001"},
      {"field under another key", "/PELIProxy/proxy/doLogin", proxy::formEncode({{"aid", foreign}, {"pw", pw}}), 200, "9001"},
      {"short block", "/PELIProxy/proxy/doLogin", proxy::formEncode({{"aid", base64Encode("abc")}, {"pw", pw}}), 200, "9001"},
      {"broken escape", "/PELIProxy/proxy/doLogin", "aid=%G1", 400, ""},
      {"unknown action", "/PELIProxy/proxy/formatDisk", "", 404, ""},
      {"session action without a session", "/PELIProxy/proxy/getCn", "userId=QUJD", 401, ""},
      {"session action with no fields", "/PELIProxy/proxy/iAmAlive", "", 401, ""},
      {"oversized body", "/PELIProxy/proxy/doLogin", "aid=" + std::string(2 << 20, 'A'), 413, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Reply r = client.Raw(c.path, c.body);
    EXPECT_EQ(r.status, c.status);
    if (*c.rtn_code) {
      std::string text = OpenRsaReply(ours.get(), r.body);
      EXPECT_NE(text.find(std::string("<rtnCode>") + c.rtn_code + "</rtnCode>"), std::string::npos) << text;
    }
  }
  // Still serving.
  EXPECT_FALSE(client.Login("9A000000001", "demo1234").empty());
}

TEST(DevProxyPages, DeploymentTemplateAndDownloads) {
  DevProxy& proxy = SharedProxy();
  TestClient client(proxy);
  std::string path = proxy.template_url().substr(proxy.origin().size());
  Reply page = client.Raw(path, "version=1.9");
  EXPECT_EQ(page.status, 200);
  EXPECT_NE(page.body.find("#importCertInfo#"), std::string::npos);
  EXPECT_NE(page.body.find("localStorage"), std::string::npos);
  EXPECT_EQ(client.Raw(path, "version=2.0").status, 400);
  Reply file = client.Get("/download/MeroCpnt.cab");
  EXPECT_EQ(file.status, 200);
  EXPECT_GT(file.body.size(), 100000u);
}

}  // namespace
}  // namespace quil::devproxy::testing
