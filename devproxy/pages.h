#pragma once
// The operator pages around the proxy: the deployment template, the demo
// mailbox and the download files.
#include <optional>
#include <string>
#include <vector>

#include "devproxy/devproxy.h"

namespace quil::devproxy {

// HTML template with "#importCertInfo#" inside a script block. Its script
// shows the certInfo it received and keeps (deploy) or drops (remove) it in
// the browser's localStorage under "quil.deployedCert".
std::string DeployTemplatePage();

// The online codes "sent" so far, newest first, as an HTML page (UTF-8).
std::string MailboxPage(const std::vector<MailItem>& mail);

// Bytes of a download file by name; nullopt for an unknown name.
std::optional<std::string> DownloadFile(const std::string& name);

}  // namespace quil::devproxy
