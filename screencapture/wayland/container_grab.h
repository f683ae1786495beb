// Reading one window's pixels on a Wayland compositor that speaks sway's IPC
// and the wlr-screencopy protocol.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "rgb_image.h"

namespace halvic::capture {

// The content area of container `id`, found through the IPC at `socket`, at
// the scale of its outputs (capture_plan.h says which when they differ): a
// 400x300 window on a scale-2 output gives 800x600 pixels. What covers the
// window on screen (a floating window above it) is in the picture, as the
// user sees it. A message says why when it cannot be read.
std::variant<RgbImage, std::string> grabSwayContainer(const std::string& socket, std::uint32_t id);

}  // namespace halvic::capture
