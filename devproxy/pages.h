#pragma once
// The operator pages around the proxy: the deployment template, the demo
// mailbox and the download files.
#include <optional>
#include <string>
#include <vector>

#include "devproxy/devproxy.h"

namespace quil::devproxy {

// The operator's deployment page, in Traditional Chinese (UTF-8), with
// "#importCertInfo#" inside a script block. Its script tells the customer
// what was done (installed or removed), shows the certificate's public data
// (name, serial, issuer, validity) and what to do next, with a link to the
// demo trading page at `trading_url` after an installation; it keeps those
// public data (deploy) or drops them (remove) in the browser's localStorage
// under "quil.deployedCert". The key material certInfo carries is never
// shown nor kept, and the page opens no other window or tab.
std::string DeployTemplatePage(const std::string& trading_url);

// The online codes "sent" so far, newest first, as an HTML page (UTF-8).
std::string MailboxPage(const std::vector<MailItem>& mail);

// Bytes of a fixed download file by name; nullopt for an unknown name.
std::optional<std::string> DownloadFile(const std::string& name);

// Where the installer takes the security component from: the programs and
// the extension the proxy was built with (an installed system's copies when
// those are gone).
struct ComponentFiles {
  std::string quil;           // registers the component (quil reg)
  std::string signer;         // the signing host, quil-signer
  std::string extension_dir;  // the unpacked extension
  std::string extension_xpi;  // the extension for Firefox
};

// The demo security component's installer, a shell script that installs
// the component for the current user: the signing host and the extension
// under $XDG_DATA_HOME/quil/signer, the host's native messaging manifests
// for Chromium, Chrome and Firefox in the user's folders, the extension in
// every Firefox profile of ~/.mozilla/firefox/profiles.ini (with the two
// preferences an unsigned extension there needs), and the host registered
// with `quil reg add` as the local server of class `class_id` ("{...}"),
// as well as HKCU\Software\MERO\MeroCpnt "Installed" = 1. Chromium has
// no per-user install of an extension from outside its store: it loads
// the unpacked copy (--load-extension), or the system's copy that the
// Debian package installs.
std::string ComponentInstallerScript(const std::string& class_id, const ComponentFiles& files);

}  // namespace quil::devproxy
