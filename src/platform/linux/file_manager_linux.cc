// Showing a file in the desktop's file manager: the freedesktop
// FileManager1 service on the session bus, spoken with GDBus, else the
// desktop's handler on the file's folder.
#include <gio/gio.h>
#include <sys/stat.h>

#include <string>

#include "platform/process.h"

namespace quil::platform {
namespace {

constexpr char kService[] = "org.freedesktop.FileManager1";
constexpr char kPath[] = "/org/freedesktop/FileManager1";
// A file manager that is not running yet is started by the bus first.
constexpr int kCallTimeoutMs = 15000;

// ShowItems with the one file's URI; true when the file manager answered
// without an error.
bool CallShowItems(const std::string& path) {
  // A relative path (none comes from the page) is taken from the working folder.
  gchar* absolute = g_path_is_absolute(path.c_str()) ? g_strdup(path.c_str())
                                                      : g_canonicalize_filename(path.c_str(), nullptr);
  // Every byte the URI grammar does not allow in a path is percent-encoded.
  gchar* uri = g_filename_to_uri(absolute, nullptr, nullptr);
  g_free(absolute);
  if (!uri) return false;
  GError* error = nullptr;
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  // A connection of our own, closed when done, so no other user of GDBus
  // in this process is disturbed.
  GDBusConnection* bus =
      address ? g_dbus_connection_new_for_address_sync(
                    address,
                    static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                      G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                    nullptr, nullptr, &error)
              : nullptr;
  g_free(address);
  g_clear_error(&error);
  GVariant* reply = nullptr;
  if (bus) {
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    const gchar* uris[] = {uri, nullptr};
    reply = g_dbus_connection_call_sync(bus, kService, kPath, kService, "ShowItems",
                                        g_variant_new("(^ass)", uris, ""), nullptr, G_DBUS_CALL_FLAGS_NONE,
                                        kCallTimeoutMs, nullptr, &error);
    g_clear_error(&error);
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
  }
  g_free(uri);
  if (!reply) return false;
  g_variant_unref(reply);
  return true;
}

// The folder itself, or the folder that holds the file.
std::string FolderOf(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return path;
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash ? slash : 1);
}

}  // namespace

bool ShowInFileManager(const std::string& path) {
  if (CallShowItems(path)) return true;
  return ShellOpen(FolderOf(path));
}

}  // namespace quil::platform
