// Turning a frame the compositor copied into shared memory into the
// picture's RGB pixels: the pixel layouts wl_shm names, rows that may come
// bottom-up, and enlargement to the picture's scale.
#pragma once

#include <cstdint>
#include <span>

#include "capture_plan.h"
#include "rgb_image.h"

namespace halvic::capture {

// A frame as screencopy describes it: a wl_shm format code, its size in
// pixels, bytes per row, and whether row 0 is the bottom one.
struct ShmFrame {
  std::uint32_t format = 0;
  std::uint32_t width = 0, height = 0, stride = 0;
  bool yInvert = false;
  std::span<const std::uint8_t> bytes;
};

// True when `format` is one of the 24- and 32-bit RGB layouts this reads.
bool readableShmFormat(std::uint32_t format);

// Fills `target` of `picture` from the whole frame, nearest pixel first when
// the sizes differ (a part from an output of smaller scale). False when the
// format is unreadable, the bytes are too few for the size and stride, or
// `target` does not lie within the picture.
bool drawShmFrame(const ShmFrame& frame, RgbImage& picture, const PixelRect& target);

}  // namespace halvic::capture
