#pragma once
// CQUILAgmntDlg: the certificate authority's subscriber terms in a modal
// dialog of their own, shown before an application or renewal that runs in
// one call. The page renders the agreement page (the application terms,
// also before a renewal) inside the dialog; its own next button accepts.
#include "ui/ui.h"

namespace quil::workflows {

inline constexpr char kAgreementDialog[] = "CQUILAgmntDlg";
// The authority named in the caption and the terms (wide).
inline constexpr char kCertificateAuthorityName[] = "QUIL 憑證中心";
// Where the host serves the application terms.
inline constexpr char kApplicationTermsPage[] = "agreement/apply.html";

// The request as the page receives it: caption = authority + "用戶約定條款",
// no OK button (the page's next button accepts), "關閉" to close, and one
// field {"agreement", "", "page", kApplicationTermsPage}.
ui::DialogRequest AgreementDialogRequest();

// Shows the dialog modally; true when the customer accepted (IDOK), false
// when the dialog was closed any other way (IDCANCEL). Blocks.
bool ShowAgreementDialog();

}  // namespace quil::workflows
