#include "kwin_bus.h"


#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "glib_silence.h"
#include "session_bus.h"

namespace halvic::kwin {
namespace {

// One asynchronous operation's outcome, on the heap: when the caller gives up
// it cancels the operation and waits, bounded, for its callback, which GIO
// runs promptly once cancelled. Should even that not come, the state is left
// to the callback that may still run.
template <typename Result>
struct Pending {
  bool done = false;
  Result result{};
  GError* error = nullptr;
  ~Pending() {
    if (error != nullptr) g_error_free(error);
  }
};

class ThreadDefault {
 public:
  explicit ThreadDefault(GMainContext* context) : context_(context) { g_main_context_push_thread_default(context_); }
  ~ThreadDefault() { g_main_context_pop_thread_default(context_); }
  ThreadDefault(const ThreadDefault&) = delete;
  ThreadDefault& operator=(const ThreadDefault&) = delete;

 private:
  GMainContext* context_;
};

// Dispatches `context` until `done()` or `deadline`; true when done.
bool runContext(GMainContext* context, const std::function<bool()>& done, Clock::time_point deadline) {
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    if (g_main_context_iteration(context, FALSE)) continue;
    // Nothing ready: block until something is, with a timer as the bound.
    GSource* timer = g_timeout_source_new(static_cast<guint>(std::min(millisecondsUntil(deadline), 50)));
    g_source_set_callback(timer, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    g_source_attach(timer, context);
    g_main_context_iteration(context, TRUE);
    g_source_destroy(timer);
    g_source_unref(timer);
  }
  return true;
}

// Waits for `pending` until `deadline`, then cancels it and waits a little
// more for its callback. Returns whether it completed before the deadline;
// *pending is deleted unless its callback is still due.
template <typename Result>
bool await(GMainContext* context, Pending<Result>*& pending, GCancellable* cancellable,
           Clock::time_point deadline) {
  Pending<Result>* p = pending;
  if (runContext(context, [p] { return p->done; }, deadline)) return true;
  g_cancellable_cancel(cancellable);
  if (!runContext(context, [p] { return p->done; }, Clock::now() + std::chrono::milliseconds(500))) {
    pending = nullptr;  // the callback still owns it
  }
  return false;
}

}  // namespace

int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 1, 1 << 30));
}


std::unique_ptr<Bus> Bus::connect(Clock::time_point deadline) {
  silenceGLib();
  const std::string address = sessionBusAddress();
  if (address.empty()) return nullptr;
  GMainContext* context = g_main_context_new();
  GCancellable* cancellable = g_cancellable_new();
  auto* pending = new Pending<GDBusConnection*>;
  bool connected = false;
  {
    ThreadDefault scope(context);
    g_dbus_connection_new_for_address(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, cancellable,
        [](GObject*, GAsyncResult* result, gpointer data) {
          auto* p = static_cast<Pending<GDBusConnection*>*>(data);
          p->result = g_dbus_connection_new_for_address_finish(result, &p->error);
          p->done = true;
        },
        pending);
    connected = await(context, pending, cancellable, deadline);
  }
  g_object_unref(cancellable);
  if (pending == nullptr) return nullptr;  // its callback, still due, needs the context too
  GDBusConnection* connection = std::exchange(pending->result, nullptr);
  delete pending;
  if (!connected || connection == nullptr) {
    if (connection != nullptr) g_object_unref(connection);
    g_main_context_unref(context);
    return nullptr;
  }
  // A closed bus must not end the process (g_bus_get's connections would).
  g_dbus_connection_set_exit_on_close(connection, FALSE);
  return std::unique_ptr<Bus>(new Bus(context, connection));
}

Bus::~Bus() {
  {
    ThreadDefault scope(context_);
    g_object_unref(connection_);
  }
  while (g_main_context_iteration(context_, FALSE)) {
  }
  g_main_context_unref(context_);
}

std::string Bus::uniqueName() const {
  const gchar* name = g_dbus_connection_get_unique_name(connection_);
  return name != nullptr ? name : "";
}

Variant Bus::call(const char* destination, const char* path, const char* interface, const char* method,
                  GVariant* parameters, const char* replyType, Clock::time_point deadline, CallFailure* failure,
                  GUnixFDList* fds) {
  GCancellable* cancellable = g_cancellable_new();
  auto* pending = new Pending<GVariant*>;
  bool answered = false;
  {
    ThreadDefault scope(context_);
    g_dbus_connection_call_with_unix_fd_list(
        connection_, destination, path, interface, method, parameters,
        replyType != nullptr ? G_VARIANT_TYPE(replyType) : nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
        millisecondsUntil(deadline), fds, cancellable,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          auto* p = static_cast<Pending<GVariant*>*>(data);
          p->result = g_dbus_connection_call_with_unix_fd_list_finish(G_DBUS_CONNECTION(source), nullptr, result,
                                                                      &p->error);
          p->done = true;
        },
        pending);
    answered = await(context_, pending, cancellable, deadline);
  }
  g_object_unref(cancellable);
  Variant reply(pending != nullptr ? std::exchange(pending->result, nullptr) : nullptr);
  if (answered && reply) {
    delete pending;
    return reply;
  }
  if (failure != nullptr) {
    *failure = {};
    GError* error = pending != nullptr ? pending->error : nullptr;
    const bool unanswered = !answered || error == nullptr ||
                            g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
                            g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
    if (!unanswered) {
      gchar* remote = g_dbus_error_get_remote_error(error);
      if (remote != nullptr) failure->name = remote;
      g_free(remote);
      g_dbus_error_strip_remote_error(error);
      failure->message = error->message;
    } else {
      failure->message = "no answer in time";
    }
  }
  delete pending;
  return nullptr;
}

void Bus::send(const char* destination, const char* path, const char* interface, const char* method,
               GVariant* parameters, Clock::time_point deadline) {
  GDBusMessage* message = g_dbus_message_new_method_call(destination, path, interface, method);
  g_dbus_message_set_body(message, parameters);
  g_dbus_message_set_flags(message, static_cast<GDBusMessageFlags>(G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED |
                                                                   G_DBUS_MESSAGE_FLAGS_NO_AUTO_START));
  g_dbus_connection_send_message(connection_, message, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, nullptr);
  g_object_unref(message);
  GCancellable* cancellable = g_cancellable_new();
  auto* pending = new Pending<gboolean>;
  {
    ThreadDefault scope(context_);
    g_dbus_connection_flush(
        connection_, cancellable,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          auto* p = static_cast<Pending<gboolean>*>(data);
          p->result = g_dbus_connection_flush_finish(G_DBUS_CONNECTION(source), result, &p->error);
          p->done = true;
        },
        pending);
    await(context_, pending, cancellable, deadline);
  }
  g_object_unref(cancellable);
  delete pending;
}

bool Bus::runUntil(const std::function<bool()>& done, Clock::time_point deadline) {
  ThreadDefault scope(context_);
  return runContext(context_, done, deadline);
}

}  // namespace halvic::kwin
