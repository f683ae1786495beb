// Decoding a captured PNG the way an independent reader would (libpng).
#pragma once

#include <optional>
#include <string>

#include "test_pattern.h"

namespace halvic::e2e {

struct DecodedPng {
  std::uint32_t width = 0, height = 0;
  std::vector<Rgb> pixels;  // rows top to bottom
  Rgb at(std::uint32_t x, std::uint32_t y) const { return pixels[std::size_t{y} * width + x]; }
};

std::optional<DecodedPng> readPng(const std::string& path);

}  // namespace halvic::e2e
