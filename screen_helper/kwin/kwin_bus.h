// A private connection to the user's session bus with a main context of its
// own, for the KWin backend and the screenshot program. Every call has a
// deadline: a bus or a KWin that stops answering costs the caller no more.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace halvic::kwin {

using Clock = std::chrono::steady_clock;

struct VariantUnref {
  void operator()(GVariant* v) const { g_variant_unref(v); }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;

struct CallFailure {
  std::string name;     // the D-Bus error name, or empty when the call got no answer
  std::string message;  // in words
};

class Bus {
 public:
  // The session bus that DBUS_SESSION_BUS_ADDRESS names, or else the one at
  // $XDG_RUNTIME_DIR/bus; never one started for the occasion. nullptr when
  // there is none or it does not let us in by `deadline`.
  static std::unique_ptr<Bus> connect(Clock::time_point deadline);

  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;
  ~Bus();

  // One method call and its reply of type `replyType` (a D-Bus signature in
  // parentheses), or nullptr with `failure` filled when it fails or
  // `deadline` passes first. `parameters` may be floating. With `fds`, those
  // descriptors go along (the list keeps its own copies until the message
  // is sent).
  Variant call(const char* destination, const char* path, const char* interface, const char* method,
               GVariant* parameters, const char* replyType, Clock::time_point deadline,
               CallFailure* failure = nullptr, GUnixFDList* fds = nullptr);

  // Sends a call without waiting for any answer, and waits at most until
  // `deadline` for the bus to take it, so that it arrives even when this
  // process ends at once.
  void send(const char* destination, const char* path, const char* interface, const char* method,
            GVariant* parameters, Clock::time_point deadline);

  // Dispatches what arrives for this connection until `done()` holds or
  // `deadline` passes; true when `done()` held.
  bool runUntil(const std::function<bool()>& done, Clock::time_point deadline);

  GDBusConnection* connection() const { return connection_; }
  GMainContext* context() const { return context_; }
  std::string uniqueName() const;

 private:
  Bus(GMainContext* context, GDBusConnection* connection) : context_(context), connection_(connection) {}

  GMainContext* context_;
  GDBusConnection* connection_;
};

// The milliseconds left until `deadline`, at least 1 (GDBus reads 0 and -1
// as "its default" and "none").
int millisecondsUntil(Clock::time_point deadline);


}  // namespace halvic::kwin
