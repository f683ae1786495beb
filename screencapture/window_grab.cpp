#include "window_grab.h"

#include <chrono>
#include <cstdlib>
#include <limits>

#include "container_grab.h"
#include "window_grab_gnome.h"
#include "window_system.h"
#include "sway_ipc.h"
#include "window_grab_x11.h"

namespace halvic::capture {

std::variant<RgbImage, std::string> grabWindow(std::uint64_t window) {
  // A SWAYSOCK left behind by a compositor that has gone must not hide a
  // working X display, so the compositor has to answer.
  const std::string socket = sway::socketPathFromEnvironment();
  const bool swayAnswers = !socket.empty() && sway::compositorAnswers(socket, std::chrono::seconds(1));
  // The GNOME Shell's window ids are 64-bit; X11's and sway's are 32-bit.
  if (!swayAnswers && isWaylandSession(std::getenv("WAYLAND_DISPLAY"), std::getenv("XDG_SESSION_TYPE"))) {
    if (auto grabbed = grabThroughGnomeShell(window)) return std::move(*grabbed);
  }
  if (window > std::numeric_limits<std::uint32_t>::max()) return "no window " + std::to_string(window);
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
