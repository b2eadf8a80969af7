// Desktop notifications through the freedesktop notification service
// (org.freedesktop.Notifications) on the session bus, spoken with GDBus.
#include <gio/gio.h>

#include <optional>
#include <set>

#include "platform/desktop_notifications.h"

namespace quil::platform {
namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr int kCallTimeoutMs = 10000;
// The action keys we offer; "default" is the click on the notification itself.
constexpr char kDefaultAction[] = "default";
constexpr char kOpenAction[] = "open";

std::string TakeError(GError* error) {
  std::string text = error ? error->message : "unknown error";
  if (error) g_error_free(error);
  return text;
}

// What the service says it can do (GetCapabilities).
struct Capabilities {
  bool actions = false;  // offers the notification's actions
  bool markup = false;   // reads the body as markup ("body-markup")
};

// Text from outside (a certificate's name, a file path) as the service
// must get it: valid UTF-8 (what is not becomes U+FFFD, the rest stays
// readable), and escaped where the service reads markup, so that it is
// shown as it is and never as tags or links.
std::string ServiceText(const std::string& text, bool markup) {
  gchar* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
  std::string out = valid;
  g_free(valid);
  if (!markup) return out;
  gchar* escaped = g_markup_escape_text(out.c_str(), -1);
  out = escaped;
  g_free(escaped);
  return out;
}

class GioNotificationSession : public NotificationSession {
 public:
  GioNotificationSession(GMainContext* context, GDBusConnection* bus, std::string app_id, Capabilities caps)
      : context_(context), bus_(bus), app_id_(std::move(app_id)), actions_(caps.actions), markup_(caps.markup) {
    // Signals reach the context that is the thread's default while subscribing.
    g_main_context_push_thread_default(context_);
    action_watch_ = g_dbus_connection_signal_subscribe(bus_, nullptr, kService, "ActionInvoked", kPath, nullptr,
                                                       G_DBUS_SIGNAL_FLAGS_NONE, &OnSignal, this, nullptr);
    closed_watch_ = g_dbus_connection_signal_subscribe(bus_, nullptr, kService, "NotificationClosed", kPath,
                                                       nullptr, G_DBUS_SIGNAL_FLAGS_NONE, &OnSignal, this, nullptr);
    g_main_context_pop_thread_default(context_);
  }

  ~GioNotificationSession() override {
    g_dbus_connection_signal_unsubscribe(bus_, action_watch_);
    g_dbus_connection_signal_unsubscribe(bus_, closed_watch_);
    g_dbus_connection_close_sync(bus_, nullptr, nullptr);
    g_object_unref(bus_);
    // Let pending callbacks of the subscriptions run down before the context goes.
    while (g_main_context_iteration(context_, FALSE)) {
    }
    g_main_context_unref(context_);
  }

  bool Show(const DesktopNotification& n) override {
    const std::string label = ServiceText(n.action_label, false);
    GVariantBuilder actions;
    g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
    if (actions_ && !n.action_label.empty()) {
      for (const char* key : {kDefaultAction, kOpenAction}) {
        g_variant_builder_add(&actions, "s", key);
        g_variant_builder_add(&actions, "s", label.c_str());
      }
    }
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(app_id_.c_str()));
    g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(n.urgent ? 2 : 1));
    // The summary is never markup; the body may be.
    const std::string summary = ServiceText(n.summary, false);
    const std::string body = ServiceText(n.body, markup_);
    GVariant* args = g_variant_new("(susssasa{sv}i)", "QUIL", 0u, n.icon.c_str(), summary.c_str(), body.c_str(),
                                   &actions, &hints, -1);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(bus_, kService, kPath, kService, "Notify", args,
                                                  G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs,
                                                  nullptr, &error);
    if (!reply) {
      g_clear_error(&error);
      return false;
    }
    guint32 id = 0;
    g_variant_get(reply, "(u)", &id);
    g_variant_unref(reply);
    shown_.insert(id);
    return true;
  }

  bool WaitForAction(std::chrono::milliseconds limit) override {
    // Without actions nothing can be chosen; a notification the service
    // keeps would hold us until `limit` for nothing.
    if (!actions_) return false;
    bool timed_out = false;
    GSource* timer = g_timeout_source_new(static_cast<guint>(limit.count()));
    g_source_set_callback(
        timer,
        [](gpointer flag) -> gboolean {
          *static_cast<bool*>(flag) = true;
          return G_SOURCE_REMOVE;
        },
        &timed_out, nullptr);
    g_source_attach(timer, context_);
    while (!chosen_ && !shown_.empty() && !timed_out) g_main_context_iteration(context_, TRUE);
    g_source_destroy(timer);
    g_source_unref(timer);
    return chosen_;
  }

 private:
  static void OnSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* signal,
                       GVariant* params, gpointer self_ptr) {
    auto* self = static_cast<GioNotificationSession*>(self_ptr);
    guint32 id = 0;
    if (g_str_equal(signal, "ActionInvoked") && g_variant_is_of_type(params, G_VARIANT_TYPE("(us)"))) {
      const gchar* key = nullptr;
      g_variant_get(params, "(u&s)", &id, &key);
      if (self->shown_.count(id) && (g_str_equal(key, kDefaultAction) || g_str_equal(key, kOpenAction)))
        self->chosen_ = true;
    } else if (g_str_equal(signal, "NotificationClosed") && g_variant_is_of_type(params, G_VARIANT_TYPE("(uu)"))) {
      guint32 reason = 0;
      g_variant_get(params, "(uu)", &id, &reason);
      self->shown_.erase(id);
    }
  }

  GMainContext* context_;
  GDBusConnection* bus_;
  std::string app_id_;
  bool actions_;
  bool markup_;
  guint action_watch_ = 0;
  guint closed_watch_ = 0;
  std::set<guint32> shown_;  // shown and not closed yet
  bool chosen_ = false;
};

// Nothing when the service does not answer.
std::optional<Capabilities> ServiceCapabilities(GDBusConnection* bus, std::string* problem) {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(bus, kService, kPath, kService, "GetCapabilities", nullptr,
                                                G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs,
                                                nullptr, &error);
  if (!reply) {
    *problem = "no notification service: " + TakeError(error);
    return std::nullopt;
  }
  GVariantIter* caps = nullptr;
  g_variant_get(reply, "(as)", &caps);
  Capabilities found;
  const gchar* cap = nullptr;
  while (g_variant_iter_loop(caps, "&s", &cap)) {
    found.actions |= g_str_equal(cap, "actions");
    found.markup |= g_str_equal(cap, "body-markup");
  }
  g_variant_iter_free(caps);
  g_variant_unref(reply);
  return found;
}

}  // namespace

std::unique_ptr<NotificationSession> ConnectNotifications(const std::string& app_id, std::string* problem) {
  GError* error = nullptr;
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (!address) {
    *problem = "no session bus: " + TakeError(error);
    return nullptr;
  }
  // A connection of our own, so closing it never disturbs another user of GDBus.
  GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  g_free(address);
  if (!bus) {
    *problem = "cannot connect to the session bus: " + TakeError(error);
    return nullptr;
  }
  g_dbus_connection_set_exit_on_close(bus, FALSE);
  auto caps = ServiceCapabilities(bus, problem);
  if (!caps) {
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    return nullptr;
  }
  return std::make_unique<GioNotificationSession>(g_main_context_new(), bus, app_id, *caps);
}

}  // namespace quil::platform
