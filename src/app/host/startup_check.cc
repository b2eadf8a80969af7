#include "app/host/startup_check.h"

#include "app/app_control.h"

namespace quil::host {

void PostStartupCheck(AppThread* app, UpdateTarget target) {
  app->Post([app, target = std::move(target)] {
    StartupCheck check = RunStartupVersionCheck(target);
    if (check.successor_started) NoteSuccessorStarted();
    if (check.close) {
      app->Hold();
      RequestQuit();
    }
  });
}

}  // namespace quil::host
