#include "maintenance/self_update.h"

#include "base/pause.h"
#include "base/result_codes.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/program_file.h"
#include "platform/text_codec.h"
#include "proxy/actions.h"
#include "proxy/download.h"
#include "proxy/settings.h"
#include "ui/ui.h"

namespace quil {
namespace {

constexpr char kOutdated[] = "您目前使用的用戶端軟體版本過舊, 將為您自動進行軟體更新";
constexpr char kDownloadFailedText[] = "檔案下載失敗, 請稍後再重新嘗試檔案更新";
constexpr char kRestarting[] = "接下來將為您更新及重新啟動用戶端軟體";
constexpr char kRetireFailed[] = "移除舊檔失敗, 請手動重新下載用戶端軟體";
constexpr char kPlaceFailed[] = "轉置新檔案失敗, 請手動重新下載用戶端軟體";
constexpr char kRestartFailed[] = "新版本軟體已完成更新但重新啟動失敗。";
constexpr char kCheckFailed[] = "版本檢核失敗，請檢查您的網路連線狀態\n並在稍後再重新嘗試使用這個軟體";

// The old process may still be ending while the new one starts: 20
// attempts 500 ms apart cover the overlap.
constexpr int kCleanupAttempts = 20;
constexpr Milliseconds kCleanupPause{500};

void Tell(const char* text) { ui::CurrentUi().MessageBox(text, ui::Buttons::kOk); }

bool Exists(const std::string& path) { return platform::GetPathInfo(path).kind != platform::PathKind::kMissing; }

// Deletes the program file retired by the last update; one that stays
// does not stop the start.
void RemoveRetiredProgram(const std::string& retired) {
  if (!Exists(retired)) return;
  for (int attempt = 0; attempt < kCleanupAttempts; ++attempt) {
    if (platform::RemoveFile(retired) == 0) return;
    Pause(kCleanupPause);
  }
}

// Downloads the successor to `fresh` and makes it runnable. Anything but a
// whole program for this machine (an error page served with status 200, a
// cut-off file) counts as a failed download and is removed.
bool FetchNewProgram(const std::string& fresh) {
  platform::RemoveFile(fresh);
  if (proxy::downloadFile(platform::ToWide(getSetting("app.dlUrl")), fresh) != kOk) return false;
  if (platform::IsProgramForThisMachine(fresh) && platform::SetProgramMode(fresh, 0755) == 0) return true;
  platform::RemoveFile(fresh);
  return false;
}

}  // namespace

StartupCheck RunStartupVersionCheck(const UpdateTarget& target) {
  const std::string& program = target.program;
  const std::string fresh = program + ".new";
  const std::string retired = program + ".dpc";
  RemoveRetiredProgram(retired);

  const int code = proxy::checkVersion().code;
  if (code == kOk) return {code, false};
  if (code != kVersionMismatch) {
    Tell(kCheckFailed);
    return {code, true};
  }

  Tell(kOutdated);
  Pause(Milliseconds(1000));
  if (!FetchNewProgram(fresh)) {
    Tell(kDownloadFailedText);
    Pause(Milliseconds(2000));
    return {code, true};
  }
  Tell(kRestarting);
  StartupCheck updated{code, true};
  if (platform::ReplaceFileByRename(program, retired) != 0) {
    Tell(kRetireFailed);
  } else if (platform::ReplaceFileByRename(fresh, program) != 0) {
    Tell(kPlaceFailed);
  } else {
    updated.successor_started = platform::StartProgramCopy(program, target.restart_args);
    if (!updated.successor_started) Tell(kRestartFailed);
  }
  return updated;
}

}  // namespace quil
