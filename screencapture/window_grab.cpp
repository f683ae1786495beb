#include "window_grab.h"

#include <chrono>
#include <cstdlib>

#include "container_grab.h"
#include "kwin_session.h"
#include "sway_ipc.h"
#include "window_grab_kwin.h"
#include "window_grab_x11.h"
#include "window_system.h"

namespace halvic::capture {

std::variant<RgbImage, std::string> grabWindow(std::uint32_t window) {
  // A SWAYSOCK left behind by a compositor that has gone must not hide a
  // working X display, so the compositor has to answer.
  const std::string socket = sway::socketPathFromEnvironment();
  if (!socket.empty() && sway::compositorAnswers(socket, std::chrono::seconds(1))) {
    return grabSwayContainer(socket, window);
  }
  // The same rule as the screen helper's: where KWin serves the display, the
  // number is one of its windows', never an X window's.
  const bool wayland = isWaylandSession(std::getenv("WAYLAND_DISPLAY"), std::getenv("XDG_SESSION_TYPE"));
  if (auto kwin = wayland ? kwin::findSessionKWin(kwin::Clock::now() + std::chrono::seconds(1)) : std::nullopt) {
    return grabKWinWindow(*kwin, window);
  }
  if (socket.empty()) return grabX11Window(window);
  auto grabbed = grabX11Window(window);
  if (auto* failure = std::get_if<std::string>(&grabbed)) {
    *failure = "the compositor at SWAYSOCK did not answer, and " + *failure;
  }
  return grabbed;
}

}  // namespace halvic::capture
