#pragma once
// The signing host asks QUIL to confirm a signature, over QUIL's
// confirmation socket (platform/local_socket.h), in native messaging frames:
//   host -> QUIL  {"type":"confirm","origin","text","requestId","cn",
//                  "serial","notAfter","store"}
//   QUIL -> host  {"decision":"confirm","password":"..."}, or "cancel",
//                 "timeout", "busy"
//   host -> QUIL  {"type":"outcome","result":"signed" or the refusal}
// QUIL shows one confirmation at a time, for at most kConfirmationTime; the
// password (empty for a store certificate) lives for that one request.
// Texts are wide (UTF-8).
#include <chrono>
#include <optional>
#include <string>

namespace quil {

constexpr std::chrono::seconds kConfirmationTime{120};

// Where QUIL listens: StateFolder()/signer.sock.
std::string ConfirmationSocketPath();

struct ConfirmationRequest {
  std::string origin;      // the page's origin
  std::string text;        // the exact text to be signed
  std::string request_id;  // the extension's id of the request
  std::string cn;          // the certificate that will sign
  std::string serial;
  std::string not_after;   // fourteen local-time digits
  std::string store;       // "pfx" (a password is asked) or "ieCertStore"
};

std::string ConfirmationRequestText(const ConfirmationRequest& request);
// Nothing when the message is not a whole request.
std::optional<ConfirmationRequest> ReadConfirmationRequest(const std::string& message);

enum class Decision {
  kConfirmed,
  kCancelled,
  kTimedOut,    // nobody answered within kConfirmationTime
  kBusy,        // another confirmation is on the screen
  kUnavailable  // no QUIL could be reached
};

struct Confirmation {
  Decision decision = Decision::kUnavailable;
  std::string password;  // kConfirmed with a file certificate
};

std::string ConfirmationText(const Confirmation& answer);
Confirmation ReadConfirmation(const std::string& message);

std::string OutcomeText(const std::string& result);
// The result of an outcome message; empty when it is none.
std::string ReadOutcome(const std::string& message);

}  // namespace quil
