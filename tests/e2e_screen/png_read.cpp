#include "png_read.h"

#include <png.h>

namespace halvic::e2e {

std::optional<DecodedPng> readPng(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return std::nullopt;
  image.format = PNG_FORMAT_RGB;
  DecodedPng decoded{image.width, image.height, std::vector<Rgb>(std::size_t{image.width} * image.height)};
  static_assert(sizeof(Rgb) == 3, "rows are read straight into Rgb values");
  if (png_image_finish_read(&image, nullptr, decoded.pixels.data(), 0, nullptr)) return decoded;
  png_image_free(&image);
  return std::nullopt;
}

}  // namespace halvic::e2e
