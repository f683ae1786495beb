#include "shm_pixels.h"

#include <gtest/gtest.h>

#include <vector>

namespace halvic::capture {
namespace {

constexpr std::uint32_t fourcc(const char (&code)[5]) {
  return static_cast<std::uint32_t>(code[0]) | static_cast<std::uint32_t>(code[1]) << 8 |
         static_cast<std::uint32_t>(code[2]) << 16 | static_cast<std::uint32_t>(code[3]) << 24;
}

RgbImage blank(std::uint32_t width, std::uint32_t height) {
  return RgbImage{width, height, std::vector<std::uint8_t>(std::size_t{width} * height * 3, 0)};
}

// One pixel of red 0x10, green 0x20, blue 0x30 in each layout's byte order
// (wl_shm formats are little-endian words).
TEST(ShmPixels, ReadsEachLayoutsChannelsFromTheirBytes) {
  struct Case {
    const char* name;
    std::uint32_t format;
    std::vector<std::uint8_t> pixel;
  };
  const Case cases[] = {
      {"ARGB8888", 0, {0x30, 0x20, 0x10, 0xff}},  {"XRGB8888", 1, {0x30, 0x20, 0x10, 0x00}},
      {"ABGR8888", fourcc("AB24"), {0x10, 0x20, 0x30, 0xff}}, {"XBGR8888", fourcc("XB24"), {0x10, 0x20, 0x30, 0}},
      {"RGBA8888", fourcc("RA24"), {0xff, 0x30, 0x20, 0x10}}, {"RGBX8888", fourcc("RX24"), {0, 0x30, 0x20, 0x10}},
      {"BGRA8888", fourcc("BA24"), {0xff, 0x10, 0x20, 0x30}}, {"BGRX8888", fourcc("BX24"), {0, 0x10, 0x20, 0x30}},
      {"RGB888", fourcc("RG24"), {0x30, 0x20, 0x10}},         {"BGR888", fourcc("BG24"), {0x10, 0x20, 0x30}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RgbImage picture = blank(1, 1);
    const ShmFrame frame{.format = c.format, .width = 1, .height = 1,
                         .stride = static_cast<std::uint32_t>(c.pixel.size()), .bytes = c.pixel, .part = {}};
    ASSERT_TRUE(drawShmFrame(frame, picture, {0, 0, 1, 1}));
    EXPECT_EQ(picture.pixels, (std::vector<std::uint8_t>{0x10, 0x20, 0x30}));
  }
}

// Rows of 2 XRGB pixels with 4 bytes of padding; each pixel's blue byte is
// 10 * row + column, the other channels 0.
TEST(ShmPixels, PlacesRowsByStrideAndOrientationAndEnlargesToTheTarget) {
  const std::vector<std::uint8_t> bytes = {0, 0, 0, 0, 1, 0, 0, 0, 9, 9, 9, 9,   // row 0 + padding
                                           10, 0, 0, 0, 11, 0, 0, 0, 9, 9, 9, 9};  // row 1 + padding
  auto blues = [](const RgbImage& picture) {
    std::vector<int> values;
    for (std::size_t i = 2; i < picture.pixels.size(); i += 3) values.push_back(picture.pixels[i]);
    return values;
  };
  struct Case {
    const char* name;
    bool yInvert;
    PixelRect target;
    std::uint32_t pictureWidth, pictureHeight;
    std::vector<int> expected;
    int transform = 0;
    std::optional<PixelRect> part = {};
  };
  const Case cases[] = {
      {"top-down rows", false, {0, 0, 2, 2}, 2, 2, {0, 1, 10, 11}},
      {"bottom-up rows", true, {0, 0, 2, 2}, 2, 2, {10, 11, 0, 1}},
      {"into a part of the picture", false, {1, 0, 2, 2}, 3, 2, {0, 0, 1, 0, 10, 11}},
      {"enlarged twice", false, {0, 0, 4, 4}, 4, 4, {0, 0, 1, 1, 0, 0, 1, 1, 10, 10, 11, 11, 10, 10, 11, 11}},
      // The buffer of an output turned by 90 degrees holds upright column x as
      // row x, upright row 0 in the last column.
      {"turned upright", false, {0, 0, 2, 2}, 2, 2, {1, 11, 0, 10}, 1},
      {"turned by 180 degrees", false, {0, 0, 2, 2}, 2, 2, {11, 10, 1, 0}, 2},
      {"mirrored", false, {0, 0, 2, 2}, 2, 2, {1, 0, 11, 10}, 4},
      {"one column cut out of the frame", false, {0, 0, 1, 2}, 1, 2, {1, 11}, 0, PixelRect{1, 0, 1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RgbImage picture = blank(c.pictureWidth, c.pictureHeight);
    const ShmFrame frame{.format = 1, .width = 2, .height = 2, .stride = 12, .yInvert = c.yInvert, .bytes = bytes,
                         .transform = c.transform, .part = c.part};
    ASSERT_TRUE(drawShmFrame(frame, picture, c.target));
    EXPECT_EQ(blues(picture), c.expected);
  }
}

TEST(ShmPixels, RefusesFramesItCannotReadWhole) {
  const std::vector<std::uint8_t> bytes(2 * 2 * 4, 0);
  struct Case {
    const char* name;
    ShmFrame frame;
    PixelRect target;
  };
  auto frame = [&bytes](std::uint32_t format, std::uint32_t stride, std::optional<PixelRect> part = {}) {
    return ShmFrame{.format = format, .width = 2, .height = 2, .stride = stride, .bytes = bytes, .part = part};
  };
  const Case cases[] = {
      {"unknown format (a 10-bit one)", frame(fourcc("XR30"), 8), {0, 0, 2, 2}},
      {"too few bytes for the stride", frame(1, 16), {0, 0, 2, 2}},
      {"stride shorter than a row", frame(1, 4), {0, 0, 2, 2}},
      {"target beyond the picture", frame(1, 8), {1, 1, 2, 2}},
      {"part beyond the frame", frame(1, 8, PixelRect{1, 1, 2, 1}), {0, 0, 2, 2}},
  };
  for (const Case& c : cases) {
    RgbImage picture = blank(2, 2);
    EXPECT_FALSE(drawShmFrame(c.frame, picture, c.target)) << c.name;
  }
}

}  // namespace
}  // namespace halvic::capture
