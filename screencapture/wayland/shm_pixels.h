// Turning a frame the compositor copied into shared memory into the
// picture's RGB pixels: the pixel layouts wl_shm names, rows that may come
// bottom-up, and enlargement to the picture's scale.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "capture_plan.h"
#include "rgb_image.h"

namespace halvic::capture {

// A frame as screencopy describes it: a wl_shm format code, its size in
// pixels, bytes per row, whether row 0 is the bottom one, and the
// wl_output.transform of its output (0 normal, 1..3 turned by 90, 180, 270
// degrees, 4..7 the same mirrored).
struct ShmFrame {
  std::uint32_t format = 0;
  std::uint32_t width = 0, height = 0, stride = 0;
  bool yInvert = false;
  std::span<const std::uint8_t> bytes;
  int transform = 0;
  // The part of the upright frame to draw, in its pixels; all of it when
  // absent (a frame of a whole output holds more than the window).
  std::optional<PixelRect> part;
};

// True when `format` is one of the 24- and 32-bit RGB layouts this reads.
bool readableShmFormat(std::uint32_t format);

// Fills `target` of `picture` from the whole frame, turned upright, nearest
// pixel first when the sizes differ (a part from an output of smaller scale). False when the
// format is unreadable, the bytes are too few for the size and stride, or
// `target` does not lie within the picture or the part within the frame.
bool drawShmFrame(const ShmFrame& frame, RgbImage& picture, const PixelRect& target);

}  // namespace halvic::capture
