// PNG encoding of a captured window: row filtering here, deflate by libdeflate,
// which compresses several times faster than zlib at the same ratio.
#pragma once

#include <string>

#include "rgb_image.h"

namespace halvic::capture {

// Every filter PNG defines, plus per-row adaptive choice: the program uses
// one (kCaptureSettings); the others stay so bench/png_encoders.cpp can keep
// measuring that choice against them.
enum class RowFilter { None, Sub, Up, Average, Paeth, Adaptive };

struct PngSettings {
  int level = 0;  // libdeflate level, 1 (fastest) .. 12
  RowFilter filter = RowFilter::None;
};

// The settings the program uses, chosen by measurement on photo-like windows
// (bench/README.md).
inline constexpr PngSettings kCaptureSettings{4, RowFilter::Sub};

// The PNG file for `image` (8-bit RGB, no interlace), or the empty string when
// the image is empty or the compressor fails.
std::string encodePng(const RgbImage& image, PngSettings settings = kCaptureSettings);

}  // namespace halvic::capture
