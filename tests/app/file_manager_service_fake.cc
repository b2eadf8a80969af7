#include "file_manager_service_fake.h"

#include <gio/gio.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace quil::testing {
namespace {

constexpr char kName[] = "org.freedesktop.FileManager1";
constexpr char kPath[] = "/org/freedesktop/FileManager1";
constexpr char kInterface[] = R"(
<node>
  <interface name="org.freedesktop.FileManager1">
    <method name="ShowItems"><arg type="as" direction="in"/><arg type="s" direction="in"/></method>
    <method name="ShowFolders"><arg type="as" direction="in"/><arg type="s" direction="in"/></method>
  </interface>
</node>)";

}  // namespace

struct FakeFileManagerService::State {
  bool refuse = false;
  GMainContext* context = g_main_context_new();
  GMainLoop* loop = g_main_loop_new(context, FALSE);
  std::thread thread;

  mutable std::mutex mutex;
  std::condition_variable settled;
  bool started = false;
  bool owns_name = false;
  std::vector<std::vector<std::string>> calls;

  static void OnCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                     GVariant* params, GDBusMethodInvocation* invocation, gpointer p) {
    auto* self = static_cast<State*>(p);
    if (g_str_equal(method, "ShowItems")) {
      GVariantIter* uris = nullptr;
      const gchar* startup = nullptr;
      g_variant_get(params, "(as&s)", &uris, &startup);
      std::vector<std::string> call;
      const gchar* uri = nullptr;
      while (g_variant_iter_loop(uris, "&s", &uri)) call.push_back(uri);
      g_variant_iter_free(uris);
      std::lock_guard<std::mutex> lock(self->mutex);
      self->calls.push_back(std::move(call));
    }
    if (self->refuse)
      g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.Failed", "refused");
    else
      g_dbus_method_invocation_return_value(invocation, nullptr);
  }

  void Run(const std::string& address) {
    g_main_context_push_thread_default(context);
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
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

FakeFileManagerService::FakeFileManagerService(const std::string& address, bool refuse)
    : state_(std::make_unique<State>()) {
  state_->refuse = refuse;
  state_->thread = std::thread([this, address] { state_->Run(address); });
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->settled.wait(lock, [this] { return state_->started; });
}

FakeFileManagerService::~FakeFileManagerService() {
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

bool FakeFileManagerService::running() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->owns_name;
}

std::vector<std::vector<std::string>> FakeFileManagerService::calls() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->calls;
}

}  // namespace quil::testing
