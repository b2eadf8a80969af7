#include "app/host/startup_check.h"

#include "app/app_control.h"

namespace quil::host {

void PostStartupCheck(AppThread* app, UpdateTarget target, std::atomic<long>* successor) {
  app->Post([app, target = std::move(target), successor] {
    StartupCheck check = RunStartupVersionCheck(target);
    if (check.successor_started) {
      NoteSuccessorStarted();
      *successor = check.successor;
    }
    if (check.close) {
      app->Hold();
      RequestQuit();
    }
  });
}

}  // namespace quil::host
