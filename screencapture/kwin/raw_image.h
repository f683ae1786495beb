// The raw image KWin's screenshot interface writes to its pipe, turned into
// the program's RGB image.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "rgb_image.h"

namespace halvic::capture {

// How KWin describes the pixels (its results "width", "height", "stride" and
// "format", a QImage::Format number).
struct RawLayout {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t stride = 0;
  std::uint32_t format = 0;
};

// The pixels of `bytes` as RGB. Takes the 32-bit formats KWin produces:
// RGB32, ARGB32 and ARGB32_Premultiplied (native-endian 0xAARRGGBB words) and
// RGBX8888, RGBA8888 and RGBA8888_Premultiplied (bytes R, G, B, A). A
// translucent pixel is shown over black, as a premultiplied one already is.
// Why not, in words, for any other format or too few bytes.
std::variant<RgbImage, std::string> rgbFromRaw(const RawLayout& layout, std::string_view bytes);

}  // namespace halvic::capture
