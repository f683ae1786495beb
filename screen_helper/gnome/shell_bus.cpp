#include "shell_bus.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>

#include <cstdlib>
#include <string_view>

#include "glib_silence.h"
#include "session_bus.h"

namespace halvic::gnome {
namespace {

constexpr const char* kShellName = "org.gnome.Shell";
constexpr const char* kPath = "/org/halvic/Windows";
constexpr const char* kInterface = "org.halvic.Windows1";
constexpr std::string_view kRefusedUs = "org.halvic.Windows1.Error.NotOurCaller";


template <class T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using ErrorPtr = std::unique_ptr<GError, Deleter<GError, g_error_free>>;
using VariantPtr = std::unique_ptr<GVariant, Deleter<GVariant, g_variant_unref>>;
using ContextPtr = std::unique_ptr<GMainContext, Deleter<GMainContext, g_main_context_unref>>;

int milliseconds(std::chrono::milliseconds timeout) {
  return static_cast<int>(std::max<std::int64_t>(timeout.count(), 1));
}

ShellReply replyFor(GError* error) {
  if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY) ||
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT)) {
    return {ShellAnswer::silent, "the GNOME Shell did not answer in time"};
  }
  gchar* remote = g_dbus_error_get_remote_error(error);
  const std::string name = remote != nullptr ? remote : "";
  g_free(remote);
  g_dbus_error_strip_remote_error(error);
  const std::string message = error->message != nullptr ? error->message : "";
  if (name == kRefusedUs) return {ShellAnswer::refusedUs, message};
  if (name == "org.freedesktop.DBus.Error.ServiceUnknown" || name == "org.freedesktop.DBus.Error.NameHasNoOwner")
    return {ShellAnswer::noShell, "no GNOME Shell on the session bus"};
  if (name == "org.freedesktop.DBus.Error.UnknownMethod" || name == "org.freedesktop.DBus.Error.UnknownObject" ||
      name == "org.freedesktop.DBus.Error.UnknownInterface") {
    return {ShellAnswer::noExtension, "our GNOME Shell extension is not enabled"};
  }
  return {ShellAnswer::failed, name.empty() ? message : name + ": " + message};
}

class GdbusShellBus final : public ShellBus {
 public:
  explicit GdbusShellBus(GDBusConnection* connection) : connection_(connection) {}
  ~GdbusShellBus() override {
    // Closed without waiting: a call still queued must not hold the exit.
    g_dbus_connection_close(connection_, nullptr, nullptr, nullptr);
    g_object_unref(connection_);
  }

  ShellReply probe(std::chrono::milliseconds timeout) override { return call("GetVersion", nullptr, timeout); }
  ShellReply windows(std::chrono::milliseconds timeout) override { return call("GetWindows", nullptr, timeout); }

  std::string shellVersion(std::chrono::milliseconds timeout) override {
    if (silent_) return "";
    VariantPtr result(g_dbus_connection_call_sync(
        connection_, kShellName, "/org/gnome/Shell", "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", kShellName, "ShellVersion"), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NO_AUTO_START,
        milliseconds(timeout), nullptr, nullptr));
    if (!result) return "";
    VariantPtr value(g_variant_get_child_value(result.get(), 0));
    VariantPtr text(g_variant_get_variant(value.get()));
    return g_variant_is_of_type(text.get(), G_VARIANT_TYPE_STRING) ? g_variant_get_string(text.get(), nullptr) : "";
  }

  ShellReply capture(std::uint64_t id, const LogicalRect& area, int fd, std::chrono::milliseconds timeout) override {
    GUnixFDList* fds = g_unix_fd_list_new();
    const gint index = g_unix_fd_list_append(fds, fd, nullptr);  // a duplicate, closed with the list
    ShellReply reply = index < 0 ? ShellReply{ShellAnswer::failed, "cannot pass the file descriptor"}
                                 : call("CaptureWindow",
                                        g_variant_new("(t(iiii)h)", static_cast<guint64>(id),
                                                      static_cast<gint32>(area.x), static_cast<gint32>(area.y),
                                                      static_cast<gint32>(area.width),
                                                      static_cast<gint32>(area.height), index),
                                        timeout, fds);
    g_object_unref(fds);
    return reply;
  }

 private:
  ShellReply call(const char* method, GVariant* parameters, std::chrono::milliseconds timeout,
                  GUnixFDList* fds = nullptr) {
    // A Shell that let one request go unanswered is not asked again in this run, so a freeze costs one wait.
    if (silent_) {
      if (parameters != nullptr) g_variant_unref(g_variant_ref_sink(parameters));
      return {ShellAnswer::silent, "the GNOME Shell did not answer in time"};
    }
    GError* raw = nullptr;
    VariantPtr result(g_dbus_connection_call_with_unix_fd_list_sync(
        connection_, kShellName, kPath, kInterface, method, parameters, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
        milliseconds(timeout), fds, nullptr, nullptr, &raw));
    const ErrorPtr error(raw);
    if (!result) {
      ShellReply reply = replyFor(error.get());
      silent_ = reply.answer == ShellAnswer::silent;
      return reply;
    }
    ShellReply reply{ShellAnswer::answered, ""};
    if (g_variant_is_of_type(result.get(), G_VARIANT_TYPE("(s)"))) {
      const gchar* text = nullptr;
      g_variant_get(result.get(), "(&s)", &text);
      reply.text = text;
    }
    return reply;
  }

  GDBusConnection* connection_;
  bool silent_ = false;
};

struct PendingConnection {
  GDBusConnection* connection = nullptr;
  bool done = false;
};

}  // namespace

std::unique_ptr<ShellBus> ShellBus::connect(std::chrono::milliseconds timeout) {
  silenceGLib();
  const std::string address = sessionBusAddress();
  if (address.empty()) return nullptr;
  // Set up on a context of this call's own, iterated until the deadline: a bus that accepts the connection and then
  // says nothing costs this wait and no more. A late setup is left to finish (or not) on its own.
  const ContextPtr context(g_main_context_new());
  g_main_context_push_thread_default(context.get());
  auto* pending = new PendingConnection;  // owned by the callback once it has run, leaked when it never runs
  const auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                       G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
  g_dbus_connection_new_for_address(
      address.c_str(), flags, nullptr, nullptr,
      [](GObject*, GAsyncResult* result, gpointer data) {
        auto* state = static_cast<PendingConnection*>(data);
        state->connection = g_dbus_connection_new_for_address_finish(result, nullptr);
        state->done = true;
      },
      pending);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!pending->done && std::chrono::steady_clock::now() < deadline) {
    // Woken at least every 10 ms to look at the clock; the setup's own thread reports to this context.
    GSource* tick = g_timeout_source_new(10);
    g_source_set_callback(tick, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    g_source_attach(tick, context.get());
    g_main_context_iteration(context.get(), TRUE);
    g_source_destroy(tick);
    g_source_unref(tick);
  }
  g_main_context_pop_thread_default(context.get());
  if (!pending->done) return nullptr;
  GDBusConnection* connection = pending->connection;
  delete pending;
  if (connection == nullptr) return nullptr;
  g_dbus_connection_set_exit_on_close(connection, FALSE);
  return std::make_unique<GdbusShellBus>(connection);
}

ProbedShell probeShell(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  ProbedShell probed;
  probed.bus = ShellBus::connect(timeout);
  if (!probed.bus) return probed;
  const auto left = [deadline] {
    return std::max(std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()),
                    std::chrono::milliseconds(1));
  };
  probed.reply = probed.bus->probe(left());
  if (probed.reply.answer == ShellAnswer::noExtension || probed.reply.answer == ShellAnswer::refusedUs)
    probed.shellVersion = probed.bus->shellVersion(left());
  return probed;
}

}  // namespace halvic::gnome
