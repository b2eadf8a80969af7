#pragma once
// The demo trading page: the broker's web trading as far as the
// certificate goes. A loopback HTTPS server of its own that asks every
// visitor for a client certificate; a visit whose certificate the demo
// authority issued is let in and answered with the subject it saw, any
// other is refused (403). Every visit is recorded. Thread-safe; the server
// runs on background threads and stops in the destructor.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quil::devproxy {

struct TradingVisit {
  std::string time;     // 14 digits, local
  bool accepted = false;
  std::string subject;  // the client certificate's subject ("" without one), one line
  std::string issuer;
  std::string serial;   // upper-case hex, no leading zeros
  std::string reason;   // why it was refused
};

class TradingSite {
 public:
  // Serves with the TLS certificate and key files on 127.0.0.1:`port` (0:
  // a free one); `authorities` gives the PEM of the authorities whose
  // certificates are let in, read on every visit. nullptr and *error on
  // failure.
  static std::unique_ptr<TradingSite> Start(const std::string& tls_cert_path, const std::string& tls_key_path,
                                            std::function<std::string()> authorities, int port,
                                            std::string* error);
  ~TradingSite();

  std::string url() const;  // "https://127.0.0.1:PORT/"
  std::vector<TradingVisit> Visits() const;

  class Impl;

 private:
  explicit TradingSite(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace quil::devproxy
