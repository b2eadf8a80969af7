#include "browsers/signer/signer_messages.h"

#include <nlohmann/json.hpp>

#include "browsers/sign_refusals.h"

namespace quil::signer {
namespace {

using Json = nlohmann::json;

std::string Dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

// The code points of a UTF-8 text (valid: the JSON reader checked it).
template <typename Visit>
void ForEachCodePoint(const std::string& text, Visit visit) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    char32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k <= extra && i + k < text.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    if (!visit(cp)) return;
    i += 1 + extra;
  }
}

// Characters that would make the text on the screen differ from what is
// signed: controls, invisible characters and marks that reorder text.
bool Hidden(char32_t cp) {
  if (cp == '\t' || cp == '\n' || cp == '\r') return false;
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x00AD || cp == 0x061C || cp == 0x180E ||
         (cp >= 0x200B && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2060 && cp <= 0x206F) ||
         cp == 0xFEFF || (cp >= 0xFFF9 && cp <= 0xFFFB) || (cp >= 0xE0000 && cp <= 0xE007F);
}

}  // namespace

SignerMessage ReadSignerMessage(const std::string& body) {
  SignerMessage m;
  m.refusal = refusal::kInvalidMessage;
  Json j = Json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (!j.is_object()) return m;
  auto text_of = [&j](const char* name, std::string* out) {
    auto it = j.find(name);
    if (it == j.end() || !it->is_string()) return false;
    *out = it->get<std::string>();
    return true;
  };
  // An id that cannot be answered as it came is no id.
  if (!text_of("id", &m.id) || m.id.size() > kMaxRequestIdBytes) {
    m.id.clear();
    return m;
  }
  if (!text_of("type", &m.type)) return m;
  if (m.type == "GetVersion" || m.type == "GetOrigins") {
    m.refusal.clear();
  } else if (m.type == "Sign") {
    if (text_of("text", &m.text) && text_of("origin", &m.origin)) m.refusal.clear();
  }
  return m;
}

std::string SignTextProblem(const std::string& text) {
  if (text.empty()) return refusal::kTextEmpty;
  if (text.size() > kMaxSignTextBytes) return refusal::kTextTooLong;
  bool hidden = false;
  bool visible = false;
  ForEachCodePoint(text, [&](char32_t cp) {
    if (Hidden(cp)) hidden = true;
    else if (cp != ' ' && cp != '\t' && cp != '\n' && cp != '\r' && cp != 0x3000) visible = true;
    return !hidden;
  });
  if (hidden) return refusal::kTextNotDisplayable;
  if (!visible) return refusal::kTextEmpty;
  return {};
}

std::string VersionReply(const std::string& id, const std::string& version) {
  return Dump({{"type", "version"}, {"id", id}, {"version", version}});
}

std::string OriginsReply(const std::string& id, const std::vector<std::string>& origins) {
  return Dump({{"type", "origins"}, {"id", id}, {"origins", origins}});
}

std::string SignedReply(const std::string& id, const std::string& signature, const std::string& cn,
                        const std::string& serial) {
  return Dump({{"type", "signed"}, {"id", id}, {"signature", signature}, {"cn", cn}, {"serial", serial}});
}

std::string RefusedReply(const std::string& id, const std::string& reason) {
  return Dump({{"type", "refused"}, {"id", id}, {"reason", reason}});
}

}  // namespace quil::signer
