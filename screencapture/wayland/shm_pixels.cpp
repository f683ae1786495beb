#include "shm_pixels.h"

#include <array>
#include <optional>
#include <vector>

namespace halvic::capture {
namespace {

constexpr std::uint32_t fourcc(char a, char b, char c, char d) {
  return static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b) << 8 | static_cast<std::uint32_t>(c) << 16 |
         static_cast<std::uint32_t>(d) << 24;
}

// Where each channel's byte sits in one pixel. wl_shm formats are defined
// little-endian: XRGB8888 is the 32-bit value 0xXXRRGGBB, stored B, G, R, X.
struct Layout {
  std::uint32_t format;
  std::uint32_t bytesPerPixel, r, g, b;
};
constexpr std::array kLayouts = {
    Layout{0, 4, 2, 1, 0},                          // ARGB8888 (wl_shm's own code)
    Layout{1, 4, 2, 1, 0},                          // XRGB8888 (wl_shm's own code)
    Layout{fourcc('A', 'B', '2', '4'), 4, 0, 1, 2},  // ABGR8888
    Layout{fourcc('X', 'B', '2', '4'), 4, 0, 1, 2},  // XBGR8888
    Layout{fourcc('R', 'A', '2', '4'), 4, 3, 2, 1},  // RGBA8888
    Layout{fourcc('R', 'X', '2', '4'), 4, 3, 2, 1},  // RGBX8888
    Layout{fourcc('B', 'A', '2', '4'), 4, 1, 2, 3},  // BGRA8888
    Layout{fourcc('B', 'X', '2', '4'), 4, 1, 2, 3},  // BGRX8888
    Layout{fourcc('R', 'G', '2', '4'), 3, 2, 1, 0},  // RGB888
    Layout{fourcc('B', 'G', '2', '4'), 3, 0, 1, 2},  // BGR888
};

std::optional<Layout> layoutOf(std::uint32_t format) {
  for (const Layout& layout : kLayouts) {
    if (layout.format == format) return layout;
  }
  return std::nullopt;
}

}  // namespace

bool readableShmFormat(std::uint32_t format) { return layoutOf(format).has_value(); }

bool drawShmFrame(const ShmFrame& frame, RgbImage& picture, const PixelRect& target) {
  const auto layout = layoutOf(frame.format);
  if (!layout || frame.width == 0 || frame.height == 0) return false;
  const std::uint64_t rowBytes = std::uint64_t{frame.width} * layout->bytesPerPixel;
  if (frame.stride < rowBytes || frame.bytes.size() < std::uint64_t{frame.stride} * (frame.height - 1) + rowBytes) {
    return false;
  }
  if (std::uint64_t{target.x} + target.width > picture.width ||
      std::uint64_t{target.y} + target.height > picture.height) {
    return false;
  }
  // The frame holds the region as the output's buffer stores it: turned or
  // mirrored by the output's transform (as wlroots transforms boxes), and
  // bottom-up when yInvert. `upright` is the region as the user sees it.
  const bool turned = frame.transform % 2 == 1;  // 90 and 270, mirrored or not
  const std::uint32_t uprightWidth = turned ? frame.height : frame.width;
  const std::uint32_t uprightHeight = turned ? frame.width : frame.height;
  auto frameOffset = [&](std::uint32_t ux, std::uint32_t uy) {
    const std::uint32_t rx = uprightWidth - 1 - ux, ry = uprightHeight - 1 - uy;
    std::uint32_t fx = ux, fy = uy;
    switch (frame.transform) {
      case 1: fx = ry, fy = ux; break;
      case 2: fx = rx, fy = ry; break;
      case 3: fx = uy, fy = rx; break;
      case 4: fx = rx; break;
      case 5: fx = uy, fy = ux; break;
      case 6: fy = ry; break;
      case 7: fx = ry, fy = rx; break;
      default: break;
    }
    if (frame.yInvert) fy = frame.height - 1 - fy;
    return std::size_t{fy} * frame.stride + std::size_t{fx} * layout->bytesPerPixel;
  };
  const PixelRect part = frame.part.value_or(PixelRect{0, 0, uprightWidth, uprightHeight});
  if (part.width == 0 || part.height == 0 || std::uint64_t{part.x} + part.width > uprightWidth ||
      std::uint64_t{part.y} + part.height > uprightHeight) {
    return false;
  }
  // Nearest upright column of each picture column.
  std::vector<std::uint32_t> columns(target.width);
  for (std::uint32_t x = 0; x < target.width; ++x) {
    columns[x] = part.x + static_cast<std::uint32_t>(std::uint64_t{x} * part.width / target.width);
  }
  for (std::uint32_t y = 0; y < target.height; ++y) {
    const auto uy = part.y + static_cast<std::uint32_t>(std::uint64_t{y} * part.height / target.height);
    std::uint8_t* out = picture.pixels.data() + (std::size_t{target.y + y} * picture.width + target.x) * 3;
    for (const std::uint32_t ux : columns) {
      const std::uint8_t* pixel = frame.bytes.data() + frameOffset(ux, uy);
      *out++ = pixel[layout->r];
      *out++ = pixel[layout->g];
      *out++ = pixel[layout->b];
    }
  }
  return true;
}

}  // namespace halvic::capture
