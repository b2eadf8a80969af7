#include "maintenance/self_update.h"

#include <cstdio>
#include <thread>

#include "base/client_version.h"
#include "base/pause.h"
#include "base/result_codes.h"
#include "base/settings.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/program_file.h"
#include "platform/text_codec.h"
#include "proxy/actions.h"
#include "proxy/download.h"
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
// The old program, put back after a successor that did not come up.
constexpr char kUpdateFailed[] = "新版本軟體無法啟動, 已還原為原來的版本, 請稍後再重新嘗試軟體更新";

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

// Whether the program file at `path` starts and answers --version as QUIL
// does, within kVersionAnswerLimit.
bool AnswersAsQuil(const std::string& path) {
  auto out = platform::ProgramVersionOutput(path, kVersionAnswerLimit);
  if (!out) return false;
  std::string first = out->substr(0, out->find('\n'));
  if (!first.empty() && first.back() == '\r') first.pop_back();
  return IsProgramVersionLine(first);
}

// Downloads the successor to `fresh` and makes it runnable. Anything but a
// whole program for this machine that starts and answers as QUIL (an error
// page served with status 200, a cut-off file, a library, a program that
// fails at once) counts as a failed download and is removed.
bool FetchNewProgram(const std::string& fresh) {
  platform::RemoveFile(fresh);
  if (proxy::downloadFile(platform::ToWide(getSetting("app.dlUrl")), fresh) != kOk) return false;
  if (platform::IsProgramForThisMachine(fresh) && platform::SetProgramMode(fresh, 0755) == 0 &&
      AnswersAsQuil(fresh))
    return true;
  platform::RemoveFile(fresh);
  return false;
}

// The retired program back in place of the one that failed. A file the
// system still holds (Windows, while the failed program ends) gets a few
// more tries.
bool PutBack(const std::string& retired, const std::string& program) {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (platform::ReplaceFileByRename(retired, program) == 0) return true;
    if (!Exists(retired)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return false;
}

}  // namespace

StartupCheck RunStartupVersionCheck(const UpdateTarget& target) {
  const std::string& program = target.program;
  const std::string fresh = program + ".new";
  const std::string retired = program + ".dpc";
  RemoveRetiredProgram(retired);
  if (target.after_failed_update) {
    Tell(kUpdateFailed);
    return {kVersionMismatch, true};
  }

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
    platform::RemoveFile(fresh);  // the next update downloads it again
    Tell(kRetireFailed);
  } else if (platform::ReplaceFileByRename(fresh, program) != 0) {
    // Never a folder without its program: the old one goes back at once.
    (void)platform::ReplaceFileByRename(retired, program);
    Tell(kPlaceFailed);
  } else {
    updated.successor = platform::StartProgramCopy(program, target.restart_args);
    updated.successor_started = updated.successor > 0;
    if (!updated.successor_started) Tell(kRestartFailed);
  }
  return updated;
}

bool ConfirmUpdate(const UpdateTarget& target, long successor, const std::function<bool()>& came_up,
                   std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (came_up()) return true;
    if (!platform::ProcessIsRunning(successor) || std::chrono::steady_clock::now() >= deadline) break;
    if (platform::WaitForStopRequest(std::chrono::milliseconds(100))) return true;
  }
  platform::EndProcess(successor, std::chrono::milliseconds(1000));
  const std::string retired = target.program + ".dpc";
  if (!PutBack(retired, target.program)) {
    std::fprintf(stderr, "quil: the new program did not start, and the old one could not be put back as %s\n",
                 target.program.c_str());
    return false;
  }
  std::fprintf(stderr, "quil: the new program did not start; the old one is back\n");
  platform::SetEnv(kUpdateFailedVariable, "1");
  if (platform::StartProgramCopy(target.program, target.restart_args) == 0)
    std::fprintf(stderr, "quil: cannot start %s again\n", target.program.c_str());
  return false;
}

}  // namespace quil
