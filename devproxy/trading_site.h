#pragma once
// The demo trading page: the broker's web trading as far as the
// certificate goes. A loopback HTTPS server of its own that asks every
// visitor for a client certificate; a visit whose certificate the demo
// authority issued is let in and gets the order form, any other is refused
// (403). An order's text is signed in the browser through the security
// component (the page API of docs/signing-api.md), posted back and checked
// (devproxy/signed_orders.h). Every visit and every order is recorded.
// Thread-safe; the server runs on background threads and stops in the
// destructor.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devproxy/signed_orders.h"

namespace quil::devproxy {

struct TradingVisit {
  std::string time;     // 14 digits, local
  bool accepted = false;
  std::string subject;  // the client certificate's subject ("" without one), one line
  std::string issuer;
  std::string serial;   // upper-case hex, no leading zeros
  std::string reason;   // why it was refused
};

struct TradingOrder {
  std::string time;      // 14 digits, local
  bool accepted = false;
  std::string cn;        // the signer's
  std::string serial;
  std::string order;     // the order text as posted
  std::string result;    // "order accepted, signed by <cn>, serial <serial>", or the reason it was refused
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

  // How the site learns a customer's live certificate (the proxy's
  // records); until set, every order is refused.
  void SetLiveCertificates(LiveCertificateLookup lookup);

  std::string url() const;  // "https://127.0.0.1:PORT/"
  std::vector<TradingVisit> Visits() const;
  std::vector<TradingOrder> Orders() const;

  class Impl;

 private:
  explicit TradingSite(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace quil::devproxy
