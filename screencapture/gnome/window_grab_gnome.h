// Reading one window's pixels in a GNOME Shell session on Wayland, through our extension.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "rgb_image.h"

namespace halvic::capture {

// nullopt when no GNOME Shell on the session bus has our extension serve this program (not GNOME, the extension not
// enabled, or this program not one it accepts), so another window system may have the window. Otherwise the
// window's own area (the area the screen tool's records name) at its monitor's scale, whatever covers it, or why it
// cannot be had: no such window, a refusal, a Shell that does not answer in time.
std::optional<std::variant<RgbImage, std::string>> grabThroughGnomeShell(std::uint64_t window);

}  // namespace halvic::capture
