// Reading the raw pictures KWin's screenshot interface sends.
#include <gtest/gtest.h>

#include <cstring>

#include "raw_image.h"

namespace halvic::capture {
namespace {

std::string words(std::initializer_list<std::uint32_t> values) {
  std::string bytes(values.size() * 4, '\0');
  std::size_t at = 0;
  for (const std::uint32_t v : values) std::memcpy(bytes.data() + 4 * at++, &v, 4);  // native order, as Qt writes
  return bytes;
}

// One 2x1 picture per format: an opaque pixel and a half-transparent one, which straight-alpha formats show over
// black and premultiplied ones already hold so.
TEST(RawImage, ThirtyTwoBitFormatsBecomeRgb) {
  const std::string rgba = std::string("\x10\x20\x30\xff\xc8\x64\x50\x80", 8);
  const std::tuple<std::uint32_t, std::string, std::vector<std::uint8_t>> rows[] = {
      {4, words({0xff102030, 0x00c86450}), {0x10, 0x20, 0x30, 0xc8, 0x64, 0x50}},  // RGB32: alpha unused
      {5, words({0xff102030, 0x80c86450}), {0x10, 0x20, 0x30, 0x64, 0x32, 0x28}},
      {6, words({0xff102030, 0x80644028}), {0x10, 0x20, 0x30, 0x64, 0x40, 0x28}},
      {16, rgba, {0x10, 0x20, 0x30, 0xc8, 0x64, 0x50}},
      {17, rgba, {0x10, 0x20, 0x30, 0x64, 0x32, 0x28}},
      {18, rgba, {0x10, 0x20, 0x30, 0xc8, 0x64, 0x50}},
  };
  for (const auto& [format, bytes, rgb] : rows) {
    SCOPED_TRACE(format);
    const auto image = rgbFromRaw({2, 1, 8, format}, bytes);
    ASSERT_TRUE(std::holds_alternative<RgbImage>(image)) << std::get<std::string>(image);
    EXPECT_EQ(std::get<RgbImage>(image).pixels, rgb);
  }
}

TEST(RawImage, RowsStartAtTheStride) {
  const std::string bytes = words({0xff010203, 0xdeadbeef, 0xff040506});  // one padding word after row 0
  const auto image = rgbFromRaw({1, 2, 8, 4}, bytes);
  ASSERT_TRUE(std::holds_alternative<RgbImage>(image));
  EXPECT_EQ(std::get<RgbImage>(image).pixels, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6}));
}

TEST(RawImage, RefusesWhatItCannotRead) {
  const std::pair<RawLayout, std::size_t> rows[] = {
      {{2, 2, 8, 13}, 16},  // RGB888
      {{2, 2, 4, 4}, 16},   // stride shorter than a row
      {{2, 2, 8, 4}, 15},   // a byte short
      {{0, 2, 8, 4}, 16},
  };
  for (const auto& [layout, size] : rows) {
    SCOPED_TRACE(size);
    EXPECT_TRUE(std::holds_alternative<std::string>(rgbFromRaw(layout, std::string(size, '\0'))));
  }
}

}  // namespace
}  // namespace halvic::capture
