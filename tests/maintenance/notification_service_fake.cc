#include "notification_service_fake.h"

#include <gio/gio.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace quil::testing {
namespace {

constexpr char kName[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = R"(
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
      <arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
    </method>
    <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
    <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
  </interface>
</node>)";

}  // namespace

struct FakeNotificationService::State {
  Reply reply;
  bool markup = false;
  GMainContext* context = g_main_context_new();
  GMainLoop* loop = g_main_loop_new(context, FALSE);
  GDBusConnection* bus = nullptr;
  std::thread thread;

  mutable std::mutex mutex;
  std::condition_variable settled;
  bool started = false;
  bool owns_name = false;
  std::vector<ReceivedNotification> received;
  guint32 next_id = 1;

  void Emit(const char* signal, GVariant* args) {
    g_dbus_connection_emit_signal(bus, nullptr, kPath, kName, signal, args, nullptr);
  }

  // After the reply has gone out, so the client knows the id first.
  void Answer(guint32 id) {
    struct Later {
      State* self;
      guint32 id;
    };
    GSource* idle = g_idle_source_new();
    g_source_set_callback(
        idle,
        [](gpointer p) -> gboolean {
          auto* later = static_cast<Later*>(p);
          if (later->self->reply == Reply::kChooseAction)
            later->self->Emit("ActionInvoked", g_variant_new("(us)", later->id, "open"));
          later->self->Emit("NotificationClosed", g_variant_new("(uu)", later->id, 2u));
          return G_SOURCE_REMOVE;
        },
        new Later{this, id}, [](gpointer p) { delete static_cast<Later*>(p); });
    g_source_attach(idle, context);
    g_source_unref(idle);
  }

  void Notify(GVariant* params, GDBusMethodInvocation* invocation) {
    if (reply == Reply::kRefuse) {
      g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.Notifications.Error.Refused",
                                                 "refused");
      return;
    }
    ReceivedNotification n;
    const gchar *app, *icon, *summary, *body;
    guint32 replaces;
    GVariantIter* actions;
    GVariant* hints;
    gint32 timeout;
    g_variant_get(params, "(&su&s&s&sas@a{sv}i)", &app, &replaces, &icon, &summary, &body, &actions, &hints,
                  &timeout);
    n.app_name = app;
    n.icon = icon;
    n.summary = summary;
    n.body = body;
    const gchar* action;
    while (g_variant_iter_loop(actions, "&s", &action)) n.actions.push_back(action);
    g_variant_iter_free(actions);
    const gchar* entry = nullptr;
    if (g_variant_lookup(hints, "desktop-entry", "&s", &entry)) n.desktop_entry = entry;
    guchar urgency = 0;
    if (g_variant_lookup(hints, "urgency", "y", &urgency)) n.urgency = urgency;
    g_variant_unref(hints);
    guint32 id;
    {
      std::lock_guard<std::mutex> lock(mutex);
      received.push_back(std::move(n));
      id = next_id++;
    }
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", id));
    if (reply != Reply::kNoActions) Answer(id);
  }

  static void OnCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                     GVariant* params, GDBusMethodInvocation* invocation, gpointer p) {
    auto* self = static_cast<State*>(p);
    if (g_str_equal(method, "Notify")) {
      self->Notify(params, invocation);
    } else if (g_str_equal(method, "GetCapabilities")) {
      std::vector<const gchar*> caps{"body"};
      if (self->reply != Reply::kNoActions) caps.push_back("actions");
      if (self->markup) caps.insert(caps.end(), {"body-markup", "body-hyperlinks"});
      g_dbus_method_invocation_return_value(
          invocation, g_variant_new("(@as)", g_variant_new_strv(caps.data(), static_cast<gssize>(caps.size()))));
    } else if (g_str_equal(method, "GetServerInformation")) {
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(ssss)", "fake", "quil tests", "1", "1.2"));
    } else {
      g_dbus_method_invocation_return_value(invocation, nullptr);
    }
  }

  void Run(const std::string& address) {
    g_main_context_push_thread_default(context);
    bus = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    bool owned = false;
    if (bus) {
      GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterface, nullptr);
      static const GDBusInterfaceVTable vtable = {&OnCall, nullptr, nullptr, {}};
      g_dbus_connection_register_object(bus, kPath, node->interfaces[0], &vtable, this, nullptr, nullptr);
      g_dbus_node_info_unref(node);
      GVariant* r = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "RequestName", g_variant_new("(su)", kName, 4u),
                                                G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
      if (r) {
        guint32 code = 0;
        g_variant_get(r, "(u)", &code);
        owned = code == 1;  // primary owner
        g_variant_unref(r);
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      started = true;
      owns_name = owned;
    }
    settled.notify_all();
    g_main_loop_run(loop);
    if (bus) {
      g_dbus_connection_close_sync(bus, nullptr, nullptr);
      g_object_unref(bus);
    }
    g_main_context_pop_thread_default(context);
  }
};

FakeNotificationService::FakeNotificationService(const std::string& address, Reply reply, bool markup)
    : state_(std::make_unique<State>()) {
  state_->reply = reply;
  state_->markup = markup;
  state_->thread = std::thread([this, address] { state_->Run(address); });
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->settled.wait(lock, [this] { return state_->started; });
}

FakeNotificationService::~FakeNotificationService() {
  // Through the loop's own context, so a loop that is only about to run still ends.
  GSource* stop = g_idle_source_new();
  g_source_set_callback(
      stop,
      [](gpointer loop) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(loop));
        return G_SOURCE_REMOVE;
      },
      state_->loop, nullptr);
  g_source_attach(stop, state_->context);
  g_source_unref(stop);
  state_->thread.join();
  g_main_loop_unref(state_->loop);
  g_main_context_unref(state_->context);
}

bool FakeNotificationService::running() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->owns_name;
}

std::vector<ReceivedNotification> FakeNotificationService::received() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->received;
}

}  // namespace quil::testing
