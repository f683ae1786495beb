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
    const ShmFrame frame{c.format, 1, 1, static_cast<std::uint32_t>(c.pixel.size()), false, c.pixel};
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
  };
  const Case cases[] = {
      {"top-down rows", false, {0, 0, 2, 2}, 2, 2, {0, 1, 10, 11}},
      {"bottom-up rows", true, {0, 0, 2, 2}, 2, 2, {10, 11, 0, 1}},
      {"into a part of the picture", false, {1, 0, 2, 2}, 3, 2, {0, 0, 1, 0, 10, 11}},
      {"enlarged twice", false, {0, 0, 4, 4}, 4, 4, {0, 0, 1, 1, 0, 0, 1, 1, 10, 10, 11, 11, 10, 10, 11, 11}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RgbImage picture = blank(c.pictureWidth, c.pictureHeight);
    ASSERT_TRUE(drawShmFrame(ShmFrame{1, 2, 2, 12, c.yInvert, bytes}, picture, c.target));
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
  const Case cases[] = {
      {"unknown format (a 10-bit one)", {fourcc("XR30"), 2, 2, 8, false, bytes}, {0, 0, 2, 2}},
      {"too few bytes for the stride", {1, 2, 2, 16, false, bytes}, {0, 0, 2, 2}},
      {"stride shorter than a row", {1, 2, 2, 4, false, bytes}, {0, 0, 2, 2}},
      {"target beyond the picture", {1, 2, 2, 8, false, bytes}, {1, 1, 2, 2}},
  };
  for (const Case& c : cases) {
    RgbImage picture = blank(2, 2);
    EXPECT_FALSE(drawShmFrame(c.frame, picture, c.target)) << c.name;
  }
}

}  // namespace
}  // namespace halvic::capture
