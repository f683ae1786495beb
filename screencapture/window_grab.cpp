#include "window_grab.h"

#include <chrono>
#include <cstdlib>
#include <limits>

#include "container_grab.h"
#include "kwin_session.h"
#include "sway_ipc.h"
#include "window_grab_gnome.h"
#include "window_grab_kwin.h"
#include "window_grab_x11.h"
#include "window_system.h"

namespace halvic::capture {

std::variant<RgbImage, std::string> grabWindow(std::uint64_t window) {
  // A SWAYSOCK left behind by a compositor that has gone must not hide a
  // working X display, so the compositor has to answer.
  const std::string socket = sway::socketPathFromEnvironment();
  const bool swayAnswers = !socket.empty() && sway::compositorAnswers(socket, std::chrono::seconds(1));
  const bool wayland = isWaylandSession(std::getenv("WAYLAND_DISPLAY"), std::getenv("XDG_SESSION_TYPE"));
  const bool fits32 = window <= std::numeric_limits<std::uint32_t>::max();
  const std::string noWindow = "no window " + std::to_string(window);
  if (!swayAnswers && wayland) {
    // The screen helper's rules: where KWin serves the display the number is
    // one of its windows', never an X window's; then a GNOME Shell whose
    // extension serves us (its window ids are 64-bit).
    if (auto kwin = kwin::findSessionKWin(kwin::Clock::now() + std::chrono::seconds(1))) {
      return fits32 ? grabKWinWindow(*kwin, static_cast<std::uint32_t>(window)) : noWindow;
    }
    if (auto grabbed = grabThroughGnomeShell(window)) return std::move(*grabbed);
  }
  // X11's and sway's numbers are 32-bit.
  if (!fits32) return noWindow;
  const auto id = static_cast<std::uint32_t>(window);
  if (socket.empty()) return grabX11Window(id);
  if (swayAnswers) return grabSwayContainer(socket, id);
  auto grabbed = grabX11Window(id);
  if (auto* failure = std::get_if<std::string>(&grabbed)) {
    *failure = "the compositor at SWAYSOCK did not answer, and " + *failure;
  }
  return grabbed;
}

}  // namespace halvic::capture
