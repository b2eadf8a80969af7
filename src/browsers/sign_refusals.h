#pragma once
// Why a page got no signature: the reason codes the signing host and the
// extension answer a page with, and QUIL's texts for those the customer
// should read on QUIL's screen.
#include <string>

namespace quil::refusal {

inline constexpr char kInvalidMessage[] = "invalid-message";        // not a request the host knows
inline constexpr char kMessageTooLarge[] = "message-too-large";     // above the frame limit
inline constexpr char kOriginNotAllowed[] = "origin-not-allowed";   // not on the operator's list
inline constexpr char kTextEmpty[] = "text-empty";
inline constexpr char kTextTooLong[] = "text-too-long";
inline constexpr char kTextNotDisplayable[] = "text-not-displayable";  // controls, invisible or reordering marks
inline constexpr char kRateLimited[] = "rate-limited";
inline constexpr char kBusy[] = "busy";                             // another confirmation is open
inline constexpr char kNoCertificate[] = "no-certificate";
inline constexpr char kCertificateExpired[] = "certificate-expired";
inline constexpr char kCertificateRevoked[] = "certificate-revoked";
inline constexpr char kCertificateUnavailable[] = "certificate-unavailable";  // file or store entry gone
inline constexpr char kCancelled[] = "cancelled";
inline constexpr char kTimedOut[] = "timeout";
inline constexpr char kWrongPassword[] = "wrong-password";
inline constexpr char kQuilUnavailable[] = "quil-unavailable";
inline constexpr char kSignFailed[] = "sign-failed";

// What QUIL shows once a confirmed signature was not made after all; empty
// for "signed".
std::string OutcomeMessage(const std::string& result);

}  // namespace quil::refusal
