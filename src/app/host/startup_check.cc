#include "app/host/startup_check.h"

#include "app/app_control.h"

namespace quil::host {

void PostStartupCheck(AppThread* app, UpdateTarget target) {
  app->Post([target = std::move(target)] {
    if (RunStartupVersionCheck(target).close) RequestQuit();
  });
}

}  // namespace quil::host
