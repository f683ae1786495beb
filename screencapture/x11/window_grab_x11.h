// Reading one X11 window's pixels from the server.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "rgb_image.h"

namespace halvic::capture {

// The window's content area (without frame or border) at its real pixel
// size. Parts that lie off the screen have no pixels to read and come out
// black. A message says why when the window cannot be read.
std::variant<RgbImage, std::string> grabX11Window(std::uint32_t window);

}  // namespace halvic::capture
