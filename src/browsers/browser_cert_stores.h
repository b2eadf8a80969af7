#pragma once
// The certificate in the browsers' own certificate databases
// (platform/browser_cert_db.h), beside the deployment page that the
// operator's script works with: Microsoft Edge, Chrome and Chrome 64 share
// Chromium's database, FireFox has one per profile. A database that is
// protected by a password of its own or cannot be opened is skipped with a
// message box naming the browser and the reason; nothing here changes the
// reply of the deployment. Application thread only.
#include <string>
#include <vector>

#include "browsers/browser_detection.h"

namespace quil {

// Imports the PKCS#12 (DER, protected by `password`, narrow) with its key
// into the databases of the selected browsers; the certificate whose DER
// is `cert_der` is named `cn` (narrow). The Chromium database is created
// with an empty password when it does not exist yet.
void importIntoBrowserStores(const std::vector<InstalledBrowser>& browsers, const std::string& pkcs12_der,
                             const std::string& password, const std::string& cert_der, const std::string& cn);

// Deletes the certificate with that issuer and serial (the proxy's record
// texts, narrow), with its private key, from the databases of every
// browser of the list.
void removeFromBrowserStores(const std::vector<InstalledBrowser>& browsers, const std::string& issuer,
                             const std::string& serial);

}  // namespace quil
