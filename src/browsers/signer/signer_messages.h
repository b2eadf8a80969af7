#pragma once
// The messages between the extension and the signing host, one JSON
// object per native messaging frame:
//   {"type":"GetVersion","id"}          -> {"type":"version","id","version"}
//   {"type":"GetOrigins","id"}          -> {"type":"origins","id","origins":[...]}
//   {"type":"Sign","id","text","origin"} -> {"type":"signed","id","signature",
//                                            "cn","serial"}
// and for any request that gets nothing -> {"type":"refused","id","reason"}
// (reasons in browsers/sign_refusals.h). The id is the extension's and is
// answered as it came.
#include <string>
#include <vector>

namespace quil::signer {

// The most text a page may have signed, in UTF-8 bytes.
constexpr size_t kMaxSignTextBytes = 16 * 1024;
// The longest request id taken.
constexpr size_t kMaxRequestIdBytes = 128;

struct SignerMessage {
  std::string type;     // "GetVersion", "GetOrigins" or "Sign"
  std::string id;
  std::string text;     // Sign
  std::string origin;   // Sign
  std::string refusal;  // set when the message is no request the host takes
};

SignerMessage ReadSignerMessage(const std::string& body);

// The refusal for a text the customer could not read exactly as it would
// be signed (empty, too long, control characters, invisible or reordering
// marks); "" for a text that may be shown and signed.
std::string SignTextProblem(const std::string& text);

std::string VersionReply(const std::string& id, const std::string& version);
std::string OriginsReply(const std::string& id, const std::vector<std::string>& origins);
std::string SignedReply(const std::string& id, const std::string& signature, const std::string& cn,
                        const std::string& serial);
std::string RefusedReply(const std::string& id, const std::string& reason);

}  // namespace quil::signer
