#include "base/pause.h"

#include <thread>
#include <utility>

namespace quil {
namespace {

std::function<void(Milliseconds)>& Installed() {
  static std::function<void(Milliseconds)> pause;
  return pause;
}

}  // namespace

void Pause(Milliseconds duration) {
  if (Installed()) {
    Installed()(duration);
    return;
  }
  std::this_thread::sleep_for(duration);
}

void SetPauseForTesting(std::function<void(Milliseconds)> pause) { Installed() = std::move(pause); }

}  // namespace quil
