#include "browsers/sign_refusals.h"

namespace quil::refusal {

std::string OutcomeMessage(const std::string& result) {
  if (result == "signed") return {};
  if (result == kWrongPassword) return "憑證密碼錯誤，未簽章。請回到網頁重新送出，並輸入正確的憑證密碼。";
  if (result == kCertificateExpired) return "憑證已過期，未簽章。請以 QUIL 重新申請憑證。";
  if (result == kCertificateUnavailable) return "找不到憑證或憑證檔已更換，未簽章。";
  return "簽章未完成 (" + result + ")。";
}

}  // namespace quil::refusal
