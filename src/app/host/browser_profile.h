#pragma once
// The profile of QUIL's app window, a Chromium user-data folder of QUIL's
// own. Before each start its preferences turn off what the browser would
// otherwise lay over the page: the offer to save the passwords typed into
// it (the login's, a certificate file's), autofill, translation of the
// Traditional Chinese page, sign-in and sync prompts, the welcome and
// default-browser questions.
#include <string>

#include <nlohmann/json.hpp>

namespace quil::host {

// The preferences QUIL sets, as Chromium nests them in "Default/Preferences".
const nlohmann::json& WindowProfilePreferences();

// Writes QUIL's preferences into the profile in `folder` (created when
// missing), keeping every other preference the browser saved there (zoom,
// window places); an unreadable preferences file is replaced. The file is
// replaced whole. False, with `problem`, when it cannot be written.
bool PrepareWindowProfile(const std::string& folder, std::string* problem);

}  // namespace quil::host
