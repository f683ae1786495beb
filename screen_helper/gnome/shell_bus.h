// Our GNOME Shell extension over the session bus (GDBus): the one connection the screen tool and the screenshot
// program talk to it through. Every wait is bounded, the connection's setup included; nothing here prints.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "shell_windows.h"

namespace halvic::gnome {

enum class ShellAnswer {
  answered,      // the extension answered the request
  refusedUs,     // the extension answered that this program is not one of the installed helpers it serves
  noExtension,   // the Shell is on the bus, our extension is not (not installed, not enabled, not for this Shell)
  noShell,       // no session bus, or no GNOME Shell on it
  silent,        // no answer in time (a frozen Shell), now or earlier in this run
  failed,        // any other error, `text` says which
};

struct ShellReply {
  ShellAnswer answer = ShellAnswer::failed;
  std::string text;  // answered: the reply's payload (GetWindows: JSON); otherwise why, in words
};

class ShellBus {
 public:
  // A private connection to the session bus named by DBUS_SESSION_BUS_ADDRESS (or XDG_RUNTIME_DIR/bus), set up
  // within `timeout`; never one that starts a bus. nullptr when there is none.
  static std::unique_ptr<ShellBus> connect(std::chrono::milliseconds timeout);
  virtual ~ShellBus() = default;

  // Whether the extension answers (GetVersion), within `timeout`.
  virtual ShellReply probe(std::chrono::milliseconds timeout) = 0;
  // The Shell's own version (its ShellVersion property, "48.7"), within `timeout`; empty when it does not say.
  virtual std::string shellVersion(std::chrono::milliseconds timeout) = 0;
  // The Shell's windows front to back as JSON text (GetWindows).
  virtual ShellReply windows(std::chrono::milliseconds timeout) = 0;
  // Has the extension write a PNG of `area` of window `id` (logical units from the window's frame origin, at the
  // window's scale) into `fd`, which stays this process's. `text` is empty when answered.
  virtual ShellReply capture(std::uint64_t id, const LogicalRect& area, int fd, std::chrono::milliseconds timeout) = 0;
};

// A connection and its probe's answer, both within `timeout`; no connection (and `noShell`) without a session bus.
// When the Shell answered but our extension did not serve this program (noExtension, refusedUs), also the Shell's
// version, within the same `timeout`, which says which of the extension's uuids it loads.
struct ProbedShell {
  std::unique_ptr<ShellBus> bus;
  ShellReply reply{ShellAnswer::noShell, "no session bus"};
  std::string shellVersion;
};
ProbedShell probeShell(std::chrono::milliseconds timeout);

}  // namespace halvic::gnome
