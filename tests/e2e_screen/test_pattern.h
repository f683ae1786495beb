// The pixels test windows show, so a capture can be checked pixel by pixel.
#pragma once

#include <cstdint>
#include <vector>

namespace halvic::e2e {

struct Rgb {
  std::uint8_t r, g, b;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// A pattern in which neighbouring pixels differ in every channel and no two
// rows or columns within 256 are alike, so an offset or a swapped channel shows.
inline Rgb patternPixel(std::uint32_t x, std::uint32_t y) {
  return Rgb{static_cast<std::uint8_t>(x * 3 + y), static_cast<std::uint8_t>(y * 5 + x / 2),
             static_cast<std::uint8_t>((x ^ y) * 7)};
}

// Photo-like content for benchmarks: smooth gradients with sensor-like noise,
// the same for every seed-less run.
inline std::vector<Rgb> photoPixels(std::uint32_t width, std::uint32_t height) {
  std::vector<Rgb> pixels;
  pixels.reserve(static_cast<std::size_t>(width) * height);
  std::uint32_t state = 0x12345678;
  auto noise = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<int>(state % 25) - 12;
  };
  auto clamp = [](int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const int r = static_cast<int>(255 * x / width);
      const int g = static_cast<int>(255 * y / height);
      const int b = static_cast<int>(128 + 100 * (static_cast<int>((x + y) % 400) - 200) / 200);
      pixels.push_back(Rgb{clamp(r + noise()), clamp(g + noise()), clamp(b + noise())});
    }
  }
  return pixels;
}

}  // namespace halvic::e2e
