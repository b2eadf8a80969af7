#pragma once
// How a detected browser is asked to open a page: the program with its own
// arguments (a Flatpak's "flatpak run ... <app> @@u %u @@", a snap's
// /snap/bin program) and the address in its place. A Firefox that runs
// already with one of its profiles is asked for a new tab in that window
// ("--new-tab"), so no second instance fights the first over the profile;
// Chromium hands an address to its running instance by itself.
#include <string>
#include <vector>

#include "browsers/browser_detection.h"

namespace quil {

// The arguments that open `address`: the browser's own, with the address
// where kAddressArgument stands (else last) and `option`, when given, just
// before it, or before the "@@u" / "@@" that opens the Flatpak group the
// address is in.
std::vector<std::string> BrowserArguments(const InstalledBrowser& browser, const std::string& address,
                                          const std::string& option = "");

// Whether the browser runs already with one of its profiles (FireFox; the
// others are never asked this way).
bool IsRunningWithItsProfile(const InstalledBrowser& browser);

// BrowserArguments for starting the browser now: with "--new-tab" for a
// running FireFox.
std::vector<std::string> ArgumentsToOpen(const InstalledBrowser& browser, const std::string& address);

}  // namespace quil
