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

// The demo security component's installer, a shell script: it installs a
// small program under the user's data folder (quil/MeroCpnt/merocpnt) that
// answers "GetVersion" with `version`, and registers it with `quil reg add`
// as the local server of class `class_id` ("{...}"), as well as the value
// HKCU\Software\MERO\MeroCpnt "Installed" = 1. `quil` is used when it is
// executable, else "quil" on PATH.
std::string ComponentInstallerScript(const std::string& class_id, const std::string& version,
                                     const std::string& quil);

}  // namespace quil::devproxy
