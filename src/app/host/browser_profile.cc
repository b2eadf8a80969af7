#include "app/host/browser_profile.h"

#include <cstring>

#include "base/files.h"
#include "platform/environment.h"

namespace quil::host {
namespace {

// Puts every value of `ours` into `into`, object by object, leaving the
// browser's other values as they are.
void Merge(nlohmann::json& into, const nlohmann::json& ours) {
  for (auto it = ours.begin(); it != ours.end(); ++it) {
    nlohmann::json& slot = into[it.key()];
    if (it.value().is_object() && slot.is_object()) Merge(slot, it.value());
    else slot = it.value();
  }
}

}  // namespace

const nlohmann::json& WindowProfilePreferences() {
  static const nlohmann::json prefs = {
      // The password manager: no "Save password?" for the login or a
      // certificate file's password, no automatic sign-in, no leak check.
      {"credentials_enable_service", false},
      {"credentials_enable_autosignin", false},
      {"profile", {{"password_manager_enabled", false}, {"password_manager_leak_detection", false}}},
      // Autofill of addresses, cards and the like.
      {"autofill", {{"enabled", false}, {"profile_enabled", false}, {"credit_card_enabled", false}}},
      // The page is Traditional Chinese on purpose.
      {"translate", {{"enabled", false}}},
      // Sign-in to the browser, and with it sync.
      {"signin", {{"allowed", false}, {"allowed_on_next_startup", false}}},
      {"browser", {{"has_seen_welcome_page", true}, {"check_default_browser", false}}},
  };
  return prefs;
}

bool PrepareWindowProfile(const std::string& folder, std::string* problem) {
  std::string profile = folder + "/Default";
  if (!platform::MakeFolders(profile)) {
    *problem = "cannot create " + profile;
    return false;
  }
  std::string path = profile + "/Preferences";
  nlohmann::json prefs = nlohmann::json::object();
  if (std::optional<std::string> text = readWholeFile(path)) {
    nlohmann::json saved = nlohmann::json::parse(*text, nullptr, /*allow_exceptions=*/false);
    if (saved.is_object()) prefs = std::move(saved);  // else the browser would start afresh too
  }
  Merge(prefs, WindowProfilePreferences());
  if (int err = WriteFileAtomically(path, prefs.dump(), 0600)) {
    *problem = "cannot write " + path + ": " + std::strerror(err);
    return false;
  }
  return true;
}

}  // namespace quil::host
