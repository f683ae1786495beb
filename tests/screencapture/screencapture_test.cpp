// The screenshot program's portable parts: its command line, which output
// pieces make a Wayland picture, and converting shared-memory frames.
#include <gtest/gtest.h>

#include <sstream>

#include "capture_plan.h"
#include "command_line.h"
#include "shm_pixels.h"

namespace halvic::capture {
namespace {

std::string describe(const CapturePlan& plan) {
  std::ostringstream text;
  text << "scale " << plan.scale << " " << plan.width << "x" << plan.height;
  for (const CapturePiece& p : plan.pieces) {
    text << " | " << p.output << " (" << p.region.x << "," << p.region.y << " " << p.region.width << "x"
         << p.region.height << ") -> (" << p.target.x << "," << p.target.y << " " << p.target.width << "x"
         << p.target.height << ")";
  }
  return text.str();
}

// A window number names an X window, a compositor's container or a GNOME
// Shell window, whose ids pass 2^32; it stays within the screen tool's signed
// 64-bit window numbers.
TEST(CommandLine, TakesWindowNumbersFromOneToTheLargestSigned64BitOne) {
  const std::pair<std::string, std::optional<std::uint64_t>> cases[] = {
      {"1", 1},         {"4294967296", std::uint64_t{1} << 32},  {"9223372036854775807", INT64_MAX},
      {"0", {}},        {"9223372036854775808", {}},             {"-1", {}},
      {"+5", {}},       {"5 ", {}},                              {"", {}},
  };
  for (const auto& [number, window] : cases) {
    const auto request = parseCommandLine({"-x", "-o", "-l", number, "/tmp/a.png"});
    EXPECT_EQ(request ? std::optional(request->window) : std::nullopt, window) << number;
  }
  EXPECT_FALSE(parseCommandLine({"-x", "-o", "-l", "5", ""}));
  EXPECT_FALSE(parseCommandLine({"-x", "-l", "5", "/tmp/a.png"}));
}

TEST(CapturePlan, PiecesAndScaleFollowTheOutputsTheWindowCovers) {
  const OutputPlace left{"L", {0, 0, 1280, 800}, 1}, right{"R", {1280, 0, 800, 500}, 2};
  const OutputPlace offset{"O", {100, 50, 1000, 700}, 1}, a{"A", {0, 0, 100, 100}, 1}, b{"B", {100, 0, 100, 100}, 1.5};
  const std::tuple<sway::LogicalRect, std::vector<OutputPlace>, const char*> cases[] = {
      {{150, 80, 400, 300}, {offset}, "scale 1 400x300 | O (50,30 400x300) -> (0,0 400x300)"},
      {{1000, 100, 400, 300}, {left, right},  // across scales 1 and 2: the larger wins, pieces meet
       "scale 2 800x600 | L (1000,100 280x300) -> (0,0 560x600) | R (0,100 120x300) -> (560,0 240x600)"},
      {{-100, 700, 300, 200}, {left}, "scale 1 300x200 | L (0,700 200x100) -> (100,0 200x100)"},  // partly off
      {{3000, 0, 300, 200}, {left, right}, "scale 1 300x200"},
      {{99, 10, 3, 1}, {a, b},  // edges rounded from the window's origin
       "scale 1.5 5x2 | A (99,10 1x1) -> (0,0 2x2) | B (0,10 2x1) -> (2,0 3x2)"},
  };
  for (const auto& [window, outputs, expected] : cases) EXPECT_EQ(describe(planCapture(window, outputs)), expected);
}

constexpr std::uint32_t fourcc(const char (&code)[5]) {
  return static_cast<std::uint32_t>(code[0] | code[1] << 8 | code[2] << 16 | code[3] << 24);
}

RgbImage blank(std::uint32_t width, std::uint32_t height) {
  return {width, height, std::vector<std::uint8_t>(std::size_t{width} * height * 3, 0)};
}

// Red 0x10, green 0x20, blue 0x30 in each layout's byte order (little-endian words).
TEST(ShmPixels, ReadsEachLayoutsChannelsFromTheirBytes) {
  const std::pair<std::uint32_t, std::vector<std::uint8_t>> cases[] = {
      {0, {0x30, 0x20, 0x10, 0xff}},            {1, {0x30, 0x20, 0x10, 0x00}},
      {fourcc("AB24"), {0x10, 0x20, 0x30, 0}},  {fourcc("XB24"), {0x10, 0x20, 0x30, 0}},
      {fourcc("RA24"), {0, 0x30, 0x20, 0x10}},  {fourcc("RX24"), {0, 0x30, 0x20, 0x10}},
      {fourcc("BA24"), {0, 0x10, 0x20, 0x30}},  {fourcc("BX24"), {0, 0x10, 0x20, 0x30}},
      {fourcc("RG24"), {0x30, 0x20, 0x10}},     {fourcc("BG24"), {0x10, 0x20, 0x30}},
  };
  for (const auto& [format, pixel] : cases) {
    RgbImage picture = blank(1, 1);
    const auto stride = static_cast<std::uint32_t>(pixel.size());
    ASSERT_TRUE(drawShmFrame({.format = format, .width = 1, .height = 1, .stride = stride, .bytes = pixel, .part = {}},
                             picture, {0, 0, 1, 1})) << format;
    EXPECT_EQ(picture.pixels, (std::vector<std::uint8_t>{0x10, 0x20, 0x30})) << format;
  }
}

// Rows of 3 XRGB pixels (wider than high, as outputs are) and 4 bytes of padding; each pixel's blue byte is
// 10 * row + column. The picture reaches as far as the target. Each of the 8 transforms (as wlroots applies them).
TEST(ShmPixels, PlacesRowsByStrideAndOrientationAndEnlargesToTheTarget) {
  const std::vector<std::uint8_t> bytes = {0,  0, 0, 0, 1,  0, 0, 0, 2,  0, 0, 0, 9, 9, 9, 9,
                                           10, 0, 0, 0, 11, 0, 0, 0, 12, 0, 0, 0, 9, 9, 9, 9};
  const std::tuple<bool, int, PixelRect, std::optional<PixelRect>, std::vector<int>> cases[] = {
      {true, 0, {0, 0, 3, 2}, {}, {10, 11, 12, 0, 1, 2}},  // y inverted, transform, target, part of frame, blues
      {false, 0, {1, 0, 3, 2}, {}, {0, 0, 1, 2, 0, 10, 11, 12}},  {false, 6, {0, 0, 3, 2}, {}, {10, 11, 12, 0, 1, 2}},
      {false, 0, {0, 0, 6, 3}, {}, {0, 0, 1, 1, 2, 2, 0, 0, 1, 1, 2, 2, 10, 10, 11, 11, 12, 12}},
      {false, 1, {0, 0, 2, 3}, {}, {2, 12, 1, 11, 0, 10}},  {false, 3, {0, 0, 2, 3}, {}, {10, 0, 11, 1, 12, 2}},
      {false, 5, {0, 0, 2, 3}, {}, {0, 10, 1, 11, 2, 12}},  {false, 7, {0, 0, 2, 3}, {}, {12, 2, 11, 1, 10, 0}},
      {false, 2, {0, 0, 3, 2}, {}, {12, 11, 10, 2, 1, 0}},  {false, 4, {0, 0, 3, 2}, {}, {2, 1, 0, 12, 11, 10}},
      {false, 1, {0, 0, 1, 3}, PixelRect{1, 0, 1, 3}, {12, 11, 10}},
  };
  for (const auto& [yInvert, transform, target, part, expected] : cases) {
    RgbImage picture = blank(target.x + target.width, target.y + target.height);
    ASSERT_TRUE(drawShmFrame({.format = 1, .width = 3, .height = 2, .stride = 16, .yInvert = yInvert, .bytes = bytes,
                              .transform = transform, .part = part},
                             picture, target));
    std::vector<int> blues;
    for (std::size_t i = 2; i < picture.pixels.size(); i += 3) blues.push_back(picture.pixels[i]);
    EXPECT_EQ(blues, expected) << transform;
  }
}

TEST(ShmPixels, RefusesFramesItCannotReadWhole) {
  const std::vector<std::uint8_t> bytes(2 * 2 * 4, 0);
  const std::tuple<std::uint32_t, std::uint32_t, std::optional<PixelRect>, PixelRect> cases[] = {
      {fourcc("XR30"), 8, {}, {0, 0, 2, 2}},  // a 10-bit format
      {1, 16, {}, {0, 0, 2, 2}},  {1, 4, {}, {0, 0, 2, 2}},  // too few bytes for the stride; stride shorter than a row
      {1, 8, {}, {1, 1, 2, 2}},  {1, 8, PixelRect{1, 1, 2, 1}, {0, 0, 2, 2}},  // target or part out of bounds
  };
  for (const auto& [format, stride, part, target] : cases) {
    RgbImage picture = blank(2, 2);
    const ShmFrame frame{.format = format, .width = 2, .height = 2, .stride = stride, .bytes = bytes, .part = part};
    EXPECT_FALSE(drawShmFrame(frame, picture, target));
  }
}

}  // namespace
}  // namespace halvic::capture
