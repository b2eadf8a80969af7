// Methods of the browser deployment.
#include "app/methods.h"
#include "app/reply_format.h"
#include "browsers/browser_deployment.h"

namespace quil::methods {

// The path argument is not used: the file is the one the settings name
// (the page has just read it with qryPfxCertInfo).
MethodReply deployCert(const MethodArgs& a) { return {PlainReply(quil::deployCert(a[0], a[1], a[3])), 0}; }

MethodReply rmvBrowserCert(const MethodArgs& a) { return {PlainReply(quil::rmvBrowserCert(a[0], a[1])), 0}; }

}  // namespace quil::methods
