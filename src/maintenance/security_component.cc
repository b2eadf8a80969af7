#include "maintenance/security_component.h"

#include <ctime>

#include "base/result_codes.h"
#include "base/settings.h"
#include "base/time_digits.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "platform/program_file.h"
#include "platform/security_component.h"
#include "platform/text_codec.h"
#include "proxy/download.h"
#include "ui/ui.h"

namespace quil {
namespace {

constexpr char kQuestionCaption[] = "安控元件安裝提示";
constexpr char kQuestion[] =
    "您尚未安裝安控元件或目前使用的版本需要更新。\n\n開始下載安控元件安裝檔並進行安控元件安裝？";
constexpr char kDownloadFailedText[] = "安控元件安裝檔下載失敗，請稍後再重新嘗試下載及安裝";
constexpr char kStarting[] = "安控元件安裝檔下載完成，現在將開始為您啟動安控元件安裝程序";


}  // namespace

bool isSecurityComponentCurrent() {
  std::string class_id = "{" + getSetting("component.activeX.classId32") + "}";
  auto version = platform::QueryComponentVersion(platform::ToWide(class_id));
  return version && platform::ToNarrow(*version) == getSetting("component.activeX.version32");
}

void cpntAutoUpdate() {
  if (isSecurityComponentCurrent()) return;
  auto& ui = ui::CurrentUi();
  if (ui.CaptionedMessageBox(kQuestionCaption, kQuestion, ui::Buttons::kOkCancel) != ui::Answer::kOk) return;
  std::string folder = GetPathSetting("env.userHome") + "/mero";
  std::string installer = folder + "/" + TimeDigits(platform::CurrentLocalTime().tm) + ".exe";
  platform::MakeFolders(folder);
  if (proxy::downloadFile(platform::ToWide(getSetting("meroCpnt.dlUrl")), installer) != kOk) {
    ui.MessageBox(kDownloadFailedText, ui::Buttons::kOk);
    return;
  }
  ui.MessageBox(kStarting, ui::Buttons::kOk);
  platform::SetProgramMode(installer, 0700);
  platform::StartProcess(installer, {});
}

}  // namespace quil
