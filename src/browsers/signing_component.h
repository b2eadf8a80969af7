#pragma once
// The security component on Linux: the signing host (quil-signer) with the
// QUIL extension. It is installed when a browser can start the host: a
// native messaging manifest of the host's name that names an existing
// program, for this user or for the whole system:
//   $XDG_CONFIG_HOME/chromium/NativeMessagingHosts/   (also google-chrome)
//   ~/.mozilla/native-messaging-hosts/
//   /etc/chromium/native-messaging-hosts/, /etc/opt/chrome/native-messaging-hosts/
//   /usr/lib/mozilla/native-messaging-hosts/
// QUIL registers the program it finds as the component's local server
// (platform/security_component.h), so the version check asks it.
#include <string>

namespace quil {

// The signing host the first readable manifest names (per user first);
// empty when none is installed.
std::string InstalledSigningHost();

// Registers the installed signing host under the class of the setting
// component.activeX.classId32 (LocalServer32's default value). Nothing when
// the operator names no class or no host is installed: a registration made
// by another installer stays. Application thread.
void RegisterSigningComponent();

}  // namespace quil
