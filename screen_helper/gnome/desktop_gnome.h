// The desktop backends of a GNOME Shell session on Wayland.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "desktop.h"
#include "shell_bus.h"
#include "window_system.h"

namespace halvic {

// Whether a GNOME Shell on the session bus has our extension serve this program, asked once within `timeout`, and
// the connection that asked, for the desktop to keep; when it does not, also the Shell's version.
struct GnomeShellFound {
  GnomeShellProbe probe = GnomeShellProbe::absent;
  gnome::ShellReply reply;
  std::string shellVersion;
  std::unique_ptr<gnome::ShellBus> bus;
};
GnomeShellFound findGnomeShell(std::chrono::milliseconds timeout);

// Windows and focus from our extension, one GetWindows request per question, each waiting at most `timeout`. A Shell
// that does not answer in time gives no frontmost application and no window list, now and for the rest of the run.
std::unique_ptr<Desktop> makeGnomeDesktop(std::unique_ptr<gnome::ShellBus> bus, std::chrono::milliseconds timeout);

// `inner` (the little the X server may show) in a GNOME session whose extension does not serve this program:
// `probe` says why, and the desktop says what the user has to do about it (withheldWindowsDetail()), naming the
// extension's uuid that a Shell of `shellVersion` loads.
std::unique_ptr<Desktop> withExtensionMissing(std::unique_ptr<Desktop> inner, const gnome::ShellReply& probe,
                                              std::string_view shellVersion);

}  // namespace halvic
