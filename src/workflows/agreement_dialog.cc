#include "workflows/agreement_dialog.h"

#include <string>

namespace quil::workflows {

ui::DialogRequest AgreementDialogRequest() {
  ui::DialogRequest request;
  request.dialog = kAgreementDialog;
  request.caption = std::string(kCertificateAuthorityName) + "用戶約定條款";
  request.ok_label = "";
  request.cancel_label = "關閉";
  request.fields.push_back({"agreement", "", "page", kApplicationTermsPage});
  return request;
}

bool ShowAgreementDialog() { return ui::CurrentUi().ShowDialog(AgreementDialogRequest()).has_value(); }

}  // namespace quil::workflows
