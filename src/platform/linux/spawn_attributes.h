#pragma once
// Spawn attributes for a child that starts with ordinary signal handling
// whatever this process blocks or ignores (SIGINT/SIGTERM may be blocked
// for the main loop, SIGPIPE ignored); optionally in a process group of
// its own, so it and whatever it starts can be ended together.
#include <signal.h>
#include <spawn.h>

namespace quil::platform {

class SpawnAttributes {
 public:
  explicit SpawnAttributes(bool own_group = false) {
    posix_spawnattr_init(&attr_);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr_, &none);
    posix_spawnattr_setsigdefault(&attr_, &defaults);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (own_group) {
      posix_spawnattr_setpgroup(&attr_, 0);
      flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&attr_, flags);
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attr_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  const posix_spawnattr_t* get() const { return &attr_; }

 private:
  posix_spawnattr_t attr_;
};

}  // namespace quil::platform
