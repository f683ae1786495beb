// An image as the screenshot program hands it from capture to encoding.
#pragma once

#include <cstdint>
#include <vector>

namespace halvic::capture {

// 8-bit RGB, rows top to bottom without padding (width * 3 bytes each).
struct RgbImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> pixels;
};

}  // namespace halvic::capture
