#pragma once
// The certificate in the browsers' own certificate databases
// (platform/browser_cert_db.h), beside the deployment page that the
// operator's script works with: Microsoft Edge, Chrome and Chrome 64 use
// Chromium's database of their packaging, FireFox has one per profile.
// Each function answers the text of the one message box that tells the
// customer, browser by browser, whether it now holds the certificate (or
// no longer does) and what to do where it could not be reached (wide
// text, for ui::Ui::MessageBox); "" when no
// browser of the list has a database this program fills (Windows). A
// database protected by a password of its own is never opened. Nothing
// here changes the reply of the deployment. Application thread only.
#include <string>
#include <vector>

#include "browsers/browser_detection.h"

namespace quil {

// Imports the PKCS#12 (DER, protected by `password`, narrow) with its key
// into the databases of the selected browsers; the certificate whose DER
// is `cert_der` is named `cn` (narrow). Chromium's database is created with
// an empty password when it does not exist yet; a FireFox without any
// profile and a snap or Flatpak Chromium that never ran (no folder of its
// own yet) are reported as not reached, with what to do.
std::string importIntoBrowserStores(const std::vector<InstalledBrowser>& browsers, const std::string& pkcs12_der,
                                    const std::string& password, const std::string& cert_der, const std::string& cn);

// Deletes the certificate the proxy's record names (its issuer and serial
// texts, narrow), with its private key, from every database of every
// browser family of the list, whatever the packaging. Only a certificate
// whose serial and issuer both equal the record's non-empty ones goes
// (cert/pfx_file.h pfxMatches); a record without them touches no database
// and the text says so. A browser without any database holds nothing.
std::string removeFromBrowserStores(const std::vector<InstalledBrowser>& browsers, const std::string& issuer,
                                    const std::string& serial);

// Whether the certificate `cert_der` is the one a record with these issuer
// and serial texts names; false whenever either text is empty.
bool isRecordedCertificate(const std::string& issuer, const std::string& serial, const std::string& cert_der);

}  // namespace quil
