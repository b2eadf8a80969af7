#include "browsers/sign_confirmation.h"

#include <nlohmann/json.hpp>

#include "platform/environment.h"

namespace quil {
namespace {

using Json = nlohmann::json;

constexpr const char* kDecisions[] = {"confirm", "cancel", "timeout", "busy", "unavailable"};

// The object a message holds; a discarded value when it holds none.
Json Parse(const std::string& message) {
  Json j = Json::parse(message, nullptr, /*allow_exceptions=*/false);
  return j.is_object() ? j : Json(Json::value_t::discarded);
}

bool TakeText(const Json& j, const char* name, std::string* out) {
  auto it = j.find(name);
  if (it == j.end() || !it->is_string()) return false;
  *out = it->get<std::string>();
  return true;
}

}  // namespace

std::string ConfirmationSocketPath() { return platform::StateFolder() + "/signer.sock"; }

std::string ConfirmationRequestText(const ConfirmationRequest& r) {
  return Json{{"type", "confirm"},  {"origin", r.origin}, {"text", r.text},         {"requestId", r.request_id},
              {"cn", r.cn},         {"serial", r.serial}, {"notAfter", r.not_after}, {"store", r.store}}
      .dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<ConfirmationRequest> ReadConfirmationRequest(const std::string& message) {
  Json j = Parse(message);
  ConfirmationRequest r;
  std::string type;
  if (j.is_discarded() || !TakeText(j, "type", &type) || type != "confirm" || !TakeText(j, "origin", &r.origin) ||
      !TakeText(j, "text", &r.text) || !TakeText(j, "requestId", &r.request_id) || !TakeText(j, "cn", &r.cn) ||
      !TakeText(j, "serial", &r.serial) || !TakeText(j, "notAfter", &r.not_after) || !TakeText(j, "store", &r.store))
    return std::nullopt;
  if (r.store != "pfx" && r.store != "ieCertStore") return std::nullopt;
  return r;
}

std::string ConfirmationText(const Confirmation& answer) {
  Json j{{"decision", kDecisions[static_cast<int>(answer.decision)]}};
  if (answer.decision == Decision::kConfirmed) j["password"] = answer.password;
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Confirmation ReadConfirmation(const std::string& message) {
  Json j = Parse(message);
  Confirmation c;
  std::string decision;
  if (j.is_discarded() || !TakeText(j, "decision", &decision)) return c;
  for (int i = 0; i < 4; ++i)
    if (decision == kDecisions[i]) c.decision = static_cast<Decision>(i);
  if (c.decision == Decision::kConfirmed) (void)TakeText(j, "password", &c.password);
  return c;
}

std::string OutcomeText(const std::string& result) {
  return Json{{"type", "outcome"}, {"result", result}}.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string ReadOutcome(const std::string& message) {
  Json j = Parse(message);
  std::string type, result;
  if (j.is_discarded() || !TakeText(j, "type", &type) || type != "outcome" || !TakeText(j, "result", &result))
    return {};
  return result;
}

}  // namespace quil
