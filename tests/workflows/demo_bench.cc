#include "demo_bench.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <stdlib.h>

#include <filesystem>
#include <regex>
#include <set>
#include <thread>

#include "app/method_table.h"
#include "base/files.h"
#include "base/pause.h"
#include "base/settings.h"
#include "cert/openssl_providers.h"
#include "devproxy/form.h"
#include "devproxy/server_thread.h"
#include "platform/text_codec.h"
#include "proxy/actions.h"
#include "proxy/envelope.h"
#include "proxy/settings_loader.h"
#include "ui/progress_window.h"

namespace quil::testing {
namespace {

// Actions sealed with the proxy's public key: their fields stay sealed.
bool IsPublicKeyAction(const std::string& action) {
  static const std::set<std::string> kActions = {"getSysCfg", "checkVersion", "doLogin", "qryBranch",
                                                 "qryBranchAll", "writeLog2", "getRegSet"};
  return kActions.count(action) != 0;
}

}  // namespace

struct DemoBench::Impl {
  httplib::Server server;
  std::unique_ptr<devproxy::ServerThread> thread;
  int port = 0;
  int target_port = 0;
  std::string data_dir;
  std::mutex mu;
  std::vector<SeenCall> calls;
  std::map<std::string, std::string> scripts;
  std::string session_key;

  void Record(const SeenCall& call) {
    std::lock_guard<std::mutex> lock(mu);
    calls.push_back(call);
  }

  void Handle(const httplib::Request& req, httplib::Response& res) {
    const std::string action = req.matches[1];
    SeenCall call{action, devproxy::ParseForm(req.body).value_or(std::map<std::string, std::string>{})};
    std::string key;
    std::optional<std::string> script;
    {
      std::lock_guard<std::mutex> lock(mu);
      key = session_key;
      auto it = scripts.find(action);
      if (it != scripts.end()) script = it->second;
    }
    if (!IsPublicKeyAction(action) && key.size() >= 16) {
      for (auto& [name, value] : call.fields) {
        if (value.empty()) continue;
        if (auto opened = proxy::OpenAesBody(key, value)) value = *opened;
      }
    }
    if (script) {
      call.reply = *script;
      Record(call);
      res.set_content(proxy::SealFieldsAes(key, {{"reply", *script}})["reply"], "text/plain");
      return;
    }
    httplib::SSLClient client("127.0.0.1", target_port);
    client.enable_server_certificate_verification(false);
    client.set_read_timeout(120, 0);
    auto forwarded = client.Post(req.path.c_str(), req.body, req.get_header_value("Content-Type").c_str());
    if (!forwarded) {
      Record(call);
      res.status = 502;
      return;
    }
    if (!IsPublicKeyAction(action) && key.size() >= 16) {
      if (auto opened = proxy::OpenAesBody(key, forwarded->body)) call.reply = *opened;
    }
    Record(call);
    res.status = forwarded->status;
    res.set_content(forwarded->body, forwarded->get_header_value("Content-Type").c_str());
  }
};

DemoBench::DemoBench(std::unique_ptr<devproxy::DevProxy> proxy, std::string data_dir)
    : proxy_(std::move(proxy)), impl_(new Impl) {
  impl_->data_dir = std::move(data_dir);
  impl_->target_port = proxy_->port();
  impl_->server.Post(R"(/PELIProxy/proxy/([A-Za-z0-9]+))",
                     [this](const httplib::Request& req, httplib::Response& res) { impl_->Handle(req, res); });
  impl_->port = impl_->server.bind_to_any_port("127.0.0.1");
  impl_->thread = std::make_unique<devproxy::ServerThread>(&impl_->server);
  proxy_->ExportEnvironment();
  setenv("QUIL_PROXY_URL", ("http://127.0.0.1:" + std::to_string(impl_->port) + "/PELIProxy/proxy/").c_str(), 1);
}

DemoBench::~DemoBench() { Shutdown(); }

void DemoBench::Shutdown() {
  impl_->thread.reset();
  proxy_.reset();
  if (!impl_->data_dir.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(impl_->data_dir, ec);
    impl_->data_dir.clear();
  }
}

std::vector<SeenCall> DemoBench::Calls() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->calls;
}

std::vector<SeenCall> DemoBench::CallsOf(const std::string& action) {
  std::vector<SeenCall> out;
  for (auto& c : Calls())
    if (c.action == action) out.push_back(c);
  return out;
}

void DemoBench::ClearCalls() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->calls.clear();
}

void DemoBench::Script(const std::string& action, const std::string& xml) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->scripts[action] = xml;
}

void DemoBench::ClearScripts() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->scripts.clear();
}

void DemoBench::SetSessionKey(const std::string& key) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->session_key = key;
}

DemoBench& Bench() {
  static DemoBench* bench = [] {
    // Started before any test home exists, so TMPDIR is the real one.
    std::string tmpl = std::filesystem::temp_directory_path().string() + "/quil-workflows-proxy-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    std::string dir = mkdtemp(buf.data());
    devproxy::Options o;
    o.data_dir = dir;
    o.key_set = TestKeySet();
    std::string error;
    auto proxy = devproxy::DevProxy::Start(o, &error);
    if (!proxy) {
      fprintf(stderr, "cannot start the demo proxy: %s\n", error.c_str());
      abort();
    }
    return new DemoBench(std::move(proxy), dir);
  }();
  return *bench;
}

namespace {

class BenchEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string error;
    if (!LoadOpenSslProviders(&error)) FAIL() << error;
    Bench();
  }
  void TearDown() override { Bench().Shutdown(); }
};

[[maybe_unused]] ::testing::Environment* const kBenchEnvironment =
    ::testing::AddGlobalTestEnvironment(new BenchEnvironment);

}  // namespace

Customer NewCustomer() {
  static int counter = 0;
  int n = ++counter;
  devproxy::CustomerSeed s;
  char idno[16], account[16];
  snprintf(idno, sizeof idno, "W%09d", 100000000 + n);
  snprintf(account, sizeof account, "%07d", 3000000 + n);
  s.idno = idno;
  s.branch = "9W00";
  s.account = account;
  s.aid = s.branch + s.account;
  s.password = "demo1234";
  s.name = "流程測試";
  s.email = "w" + std::to_string(n) + "@example.com";
  s.mobile = "0912345678";
  s.birthday = "19800101";
  s.sheet_codes = {"ZX12CV"};
  std::string error;
  if (!Bench().proxy().AddCustomer(s, &error)) ADD_FAILURE() << "cannot add a customer: " << error;
  return {s.idno, s.aid, s.password, Bench().proxy().CnOf(s.idno)};
}

DemoSession::DemoSession(const std::string& profile) {
  proxy::InstallSettingsLoader();
  ResetSettingsForTesting();
  proxy::SetSessionKey("");
  ui::ResetProgressWindowForTesting();
  SetPauseForTesting([](Milliseconds) {});
  DemoBench& b = Bench();
  b.proxy().ClearFaults();
  b.ClearScripts();
  b.SetSessionKey("");
  EXPECT_TRUE(b.proxy().ApplySettingsProfile(profile)) << profile;
  customer = NewCustomer();
  auto login = proxy::doLogin(customer.aid, customer.password);
  EXPECT_EQ(login.code, 0) << "login of " << customer.aid;
  logged_in = login.code == 0;
  b.SetSessionKey(proxy::sessionKey());
  ClearUi();
  b.ClearCalls();
}

DemoSession::~DemoSession() {
  DemoBench& b = Bench();
  b.proxy().ClearFaults();
  b.ClearScripts();
  b.SetSessionKey("");
  ResetSettingsForTesting();
  proxy::SetSessionKey("");
}

std::string DemoSession::Call(const std::string& method, const std::vector<std::string>& wide_args) {
  const MethodEntry* entry = FindMethod(method);
  if (!entry) {
    ADD_FAILURE() << "no method " << method;
    return {};
  }
  EXPECT_EQ(static_cast<size_t>(entry->arg_count), wide_args.size()) << method;
  return RunMethod(*entry, wide_args).text;
}

void DemoSession::ClearUi() {
  ui->messages.clear();
  ui->dialogs.clear();
  ui->chooser_titles.clear();
  ui->progress.clear();
  ui->hides = 0;
}

std::vector<std::string> DemoSession::KeyFiles() {
  return FilesEndingWith(getSetting("env.userPrivateKeyFolder"), ".p8");
}

void DemoSession::AcceptAgreement() { ui->dialog_answers.push_back(ui::DialogValues{}); }

void DemoSession::AnswerSaveDialog(const std::string& path, const std::string& password) {
  ui->dialog_answers.push_back(ui::DialogValues{{"path", path}, {"password", password}, {"confirm", password}});
}

void DemoSession::AnswerLoadDialog(const std::string& path, const std::string& password) {
  ui->dialog_answers.push_back(ui::DialogValues{{"path", path}, {"password", password}});
}

std::map<std::string, std::string> ReplyFields(const std::string& reply) {
  std::string text = reply;
  size_t list = text.find(",'moCerts':[");
  if (list != std::string::npos) {
    size_t end = text.find(']', list);
    text.erase(list, end == std::string::npos ? std::string::npos : end - list + 1);
  }
  std::map<std::string, std::string> out;
  static const std::regex kPair("'([^']*)':'([^']*)'");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), kPair); it != std::sregex_iterator(); ++it)
    out[(*it)[1].str()] = (*it)[2].str();
  return out;
}

std::vector<std::string> ProgressLines(const ui::ScriptedUi& ui) {
  std::vector<std::string> out;
  for (const auto& v : ui.progress) out.push_back(std::to_string(v.step) + "/" + std::to_string(v.total) + " " + v.text);
  return out;
}

}  // namespace quil::testing
