#pragma once
// QUIL's side of the security component: the confirmation socket the
// signing host (quil-signer) asks (browsers/sign_confirmation.h), and the
// screen in QUIL's page that shows each request: the requesting site, the
// exact text, the certificate, a password field for a file certificate,
// 確認簽章 and 取消. One request at a time; a second one meanwhile is
// answered "busy". The screen runs on the application thread like every
// method, is withdrawn after kConfirmationTime or when the host goes away,
// and a confirmed signature that then failed is told on a message box.
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "app/host/app_thread.h"
#include "app/host/event_channel.h"
#include "browsers/sign_confirmation.h"
#include "platform/local_socket.h"

namespace quil::host {

class SignConfirmations {
 public:
  // `limit`: how long a screen waits for the customer (tests shorten it).
  SignConfirmations(EventChannel* channel, AppThread* app,
                    std::chrono::milliseconds limit = kConfirmationTime)
      : channel_(channel), app_(app), limit_(limit) {}
  ~SignConfirmations() { Stop(); }

  // Listens at the confirmation socket, taking it over from a QUIL that
  // listened before. False when it cannot (the signing host then finds no
  // QUIL, or the earlier one).
  bool Start();
  void Stop();

 private:
  void Loop();
  void Serve(platform::SocketHandle connection);

  EventChannel* channel_;
  AppThread* app_;
  std::chrono::milliseconds limit_;
  platform::LocalListener listener_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> showing_{false};
  std::thread thread_;
  std::mutex serving_mutex_;
  std::thread serving_;
};

}  // namespace quil::host
