#pragma once
// The two browser operations of the page: the customer's current
// certificate into the chosen browsers (deployCert) and out of every
// detected browser again (rmvBrowserCert).
//
// Both write a deployment page (browsers/deployment_page.h) whose script,
// the operator's, works inside each browser, put the certificate into or
// take it out of the browsers' own databases (browsers/browser_cert_stores.h)
// and start the browsers on the page without waiting for them
// (browsers/browser_start.h: a running FireFox gets a new tab). After the
// browsers are started one message box tells the customer what each
// browser's database now holds. What the page's script does in a browser
// is not reported back: the code is 0 once the browsers have been started,
// and a failure of writing the page, of a browser database, of starting a
// browser or of a log entry never changes it. Texts are narrow.
// Application thread only.
#include <functional>
#include <string>
#include <vector>

namespace quil {

// Locates the customer's current certificate (the proxy's last active one)
// in the places of cert.readOrder, lets the customer choose the browsers
// and, for the store's copy, its password (CQUILSelBrowserDlg), builds the
// page with the PKCS#12 and the certificate, and opens it in each chosen
// browser; Microsoft Edge first gets the operator's hosts as trusted sites.
// The certificate becomes the one web pages get signatures with, and an
// installed security component is registered (browsers/signing_component.h).
// Log memo 7201 for Chrome and FireFox. Codes: 0; 54603 no current
// certificate; the last place's failure (52301, 52203, 52303, 52205, 52207,
// 53401 of the file; 54609, 54611, 54615 of the store), or 1 when
// cert.readOrder names no place; 54801 the dialog was cancelled; 52403 the
// file cannot be unpacked; 53201 the store's copy cannot be exported with
// its key; 1 or 59999 the template cannot be fetched.
int deployCert(const std::string& idno, const std::string& aid, const std::string& password);

// Detects the browsers, builds the removal page from the proxy's record and
// opens it in every detected browser (Microsoft Edge through the launcher
// in the temporary folder). Log memos 7211 (Chrome), 7212 (FireFox), 7213
// (Edge, also when the launcher could not be written). Codes: 0; 55705 no
// supported browser; 55707 no current certificate; 1 or 59999 the template
// cannot be fetched.
int rmvBrowserCert(const std::string& idno, const std::string& aid);

// Called with each program about to be started on the page and its
// arguments, the page's address among them (tests); an empty function ends
// the observation.
using StartObserver = std::function<void(const std::string& program, const std::vector<std::string>& args)>;
void SetStartObserverForTesting(StartObserver observer);

}  // namespace quil
