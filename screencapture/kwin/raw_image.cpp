#include "raw_image.h"

#include <cstring>

namespace halvic::capture {
namespace {

// QImage::Format numbers.
enum : std::uint32_t {
  kRgb32 = 4,
  kArgb32 = 5,
  kArgb32Premultiplied = 6,
  kRgbx8888 = 16,
  kRgba8888 = 17,
  kRgba8888Premultiplied = 18,
};

std::uint8_t overBlack(std::uint8_t channel, std::uint8_t alpha) {
  return static_cast<std::uint8_t>((channel * alpha + 127) / 255);
}

}  // namespace

std::variant<RgbImage, std::string> rgbFromRaw(const RawLayout& layout, std::string_view bytes) {
  const std::uint32_t f = layout.format;
  const bool words = f == kRgb32 || f == kArgb32 || f == kArgb32Premultiplied;
  const bool byteOrder = f == kRgbx8888 || f == kRgba8888 || f == kRgba8888Premultiplied;
  if (!words && !byteOrder) return "KWin sent pixels in format " + std::to_string(f) + ", which is not read here";
  if (layout.width == 0 || layout.height == 0) return std::string("KWin sent an empty picture");
  const std::size_t row = std::size_t{layout.width} * 4;
  if (layout.stride < row || bytes.size() < std::size_t{layout.stride} * (layout.height - 1) + row) {
    return "KWin sent " + std::to_string(bytes.size()) + " bytes for a " + std::to_string(layout.width) + "x" +
           std::to_string(layout.height) + " picture";
  }
  const bool straightAlpha = f == kArgb32 || f == kRgba8888;
  RgbImage image;
  image.width = layout.width;
  image.height = layout.height;
  image.pixels.resize(std::size_t{layout.width} * layout.height * 3);
  std::uint8_t* out = image.pixels.data();
  for (std::uint32_t y = 0; y < layout.height; ++y) {
    const char* in = bytes.data() + std::size_t{layout.stride} * y;
    for (std::uint32_t x = 0; x < layout.width; ++x, in += 4) {
      std::uint8_t r, g, b, a;
      if (words) {
        std::uint32_t word;
        std::memcpy(&word, in, 4);  // native byte order
        a = static_cast<std::uint8_t>(word >> 24);
        r = static_cast<std::uint8_t>(word >> 16);
        g = static_cast<std::uint8_t>(word >> 8);
        b = static_cast<std::uint8_t>(word);
      } else {
        r = static_cast<std::uint8_t>(in[0]);
        g = static_cast<std::uint8_t>(in[1]);
        b = static_cast<std::uint8_t>(in[2]);
        a = static_cast<std::uint8_t>(in[3]);
      }
      if (straightAlpha && a != 255) {
        r = overBlack(r, a);
        g = overBlack(g, a);
        b = overBlack(b, a);
      }
      *out++ = r;
      *out++ = g;
      *out++ = b;
    }
  }
  return image;
}

}  // namespace halvic::capture
