// The one capture the program makes: a window's pixels from whichever window
// system runs the session.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "rgb_image.h"

namespace halvic::capture {

// `window` is a container id when a compositor answers on SWAYSOCK (the
// session is Wayland and its windows live there), a KWin window's number
// (kwin_windows.h) in a Wayland session KWin serves, a GNOME Shell window id
// in a Wayland session whose GNOME Shell has our extension serve this
// program, else an X11 window id: the screen helper's choice, made by the
// same rules.
// The window's content area at its real pixel size, or why it cannot be read.
std::variant<RgbImage, std::string> grabWindow(std::uint64_t window);

}  // namespace halvic::capture
