#pragma once
// The bench of the workflow tests: the demo proxy of this test program,
// seen by the client through a loopback relay that records every action
// call (fields opened with the session key) and can answer an action with
// a scripted reply instead. One per process; tests run one at a time.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devproxy/devproxy.h"
#include "support/test_env.h"
#include "ui/scripted_ui.h"

namespace quil::testing {

struct SeenCall {
  std::string action;
  // Session-envelope fields opened (narrow); others as they were sent.
  std::map<std::string, std::string> fields;
  std::string reply;  // the session-envelope reply opened (narrow XML), else ""
  bool Has(const std::string& name) const { return fields.count(name) != 0; }
  std::string Field(const std::string& name) const {
    auto it = fields.find(name);
    return it == fields.end() ? std::string() : it->second;
  }
};

class DemoBench {
 public:
  devproxy::DevProxy& proxy() { return *proxy_; }

  // What the client sent since the last ClearCalls, in order.
  std::vector<SeenCall> Calls();
  std::vector<SeenCall> CallsOf(const std::string& action);
  void ClearCalls();

  // Answers `action` with this reply XML (narrow), sealed with the session
  // key, instead of asking the proxy. Until ClearScripts.
  void Script(const std::string& action, const std::string& xml);
  void ClearScripts();

  void SetSessionKey(const std::string& key);

  // Stops the relay and the proxy and removes their data (end of program).
  void Shutdown();

  struct Impl;
  DemoBench(std::unique_ptr<devproxy::DevProxy> proxy, std::string data_dir);
  ~DemoBench();

 private:
  std::unique_ptr<devproxy::DevProxy> proxy_;
  std::unique_ptr<Impl> impl_;
};

// The bench, started on first use; QUIL_PROXY_URL points at the relay.
DemoBench& Bench();

struct Customer {
  std::string idno, aid, password;
  std::string cn;  // as the proxy names the customer's certificate
};
// A new customer of the demo proxy, without certificates.
Customer NewCustomer();

// One test's world: a fresh home, a scripted UI, fresh client state (no
// settings, no session, a progress window never shown, no pacing), the
// proxy on settings profile `profile` without faults or scripts, and a new
// customer logged in. The UI's records and the call list start empty.
class DemoSession {
 public:
  explicit DemoSession(const std::string& profile = "pfx");
  ~DemoSession();

  ScopedTestHome home;
  ui::ScopedScriptedUi ui;
  Customer customer;
  bool logged_in = false;

  DemoBench& bench() { return Bench(); }
  devproxy::DevProxy& proxy() { return Bench().proxy(); }

  // Runs a bridge method with wide arguments; the reply text.
  std::string Call(const std::string& method, const std::vector<std::string>& wide_args);
  // Forgets what the UI showed so far.
  void ClearUi();

  // The key files (".p8") of the key folder.
  std::vector<std::string> KeyFiles();
  // The certificate the proxy holds for the customer, newest first.
  std::vector<devproxy::CertRecord> ProxyCerts() { return proxy().Certificates(customer.idno); }
  // The newest of them; an empty record when there is none.
  devproxy::CertRecord LatestCert() {
    auto certs = ProxyCerts();
    return certs.empty() ? devproxy::CertRecord() : certs[0];
  }

  // Answers for the dialogs, consumed in order.
  void AcceptAgreement();
  void AnswerSaveDialog(const std::string& path, const std::string& password);
  void AnswerLoadDialog(const std::string& path, const std::string& password);
};

// The fields of a reply text ("'key':'value'" pairs outside the moCerts
// list), wide.
std::map<std::string, std::string> ReplyFields(const std::string& reply);

// Each progress view shown as "step/total text"; the final report is the
// last view (when the window was visible).
std::vector<std::string> ProgressLines(const ui::ScriptedUi& ui);

}  // namespace quil::testing
