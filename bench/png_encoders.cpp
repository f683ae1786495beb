// Measures PNG encoders and their settings on two 1200x750 window images: a
// photo-like one (gradients with noise, the benchmark's content) and a UI-like
// one (flat panels, text-like strokes), for time per encode (median of runs)
// and size. Built and run by bench/run.sh.
#include <png.h>
#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "png_encoder.h"
#include "test_pattern.h"

namespace {

using halvic::capture::RgbImage;
using halvic::capture::RowFilter;

std::string libpngEncode(const RgbImage& image, int level, int filters, int strategy) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t n) {
        static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<char*>(data), n);
      },
      nullptr);
  png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, level);
  png_set_compression_strategy(png, strategy);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, filters);
  png_write_info(png, info);
  for (std::uint32_t y = 0; y < image.height; ++y) {
    png_write_row(png, image.pixels.data() + std::size_t{y} * image.width * 3);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

std::string spngEncode(const RgbImage& image, int level, int filters, int strategy) {
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
  spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, level);
  spng_set_option(ctx, SPNG_IMG_COMPRESSION_STRATEGY, strategy);
  spng_set_option(ctx, SPNG_FILTER_CHOICE, filters);
  spng_ihdr ihdr{};
  ihdr.width = image.width;
  ihdr.height = image.height;
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
  spng_set_ihdr(ctx, &ihdr);
  std::string out;
  if (spng_encode_image(ctx, image.pixels.data(), image.pixels.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) == 0) {
    std::size_t size = 0;
    int error = 0;
    void* data = spng_get_png_buffer(ctx, &size, &error);
    if (data) {
      out.assign(static_cast<char*>(data), size);
      free(data);
    }
  }
  spng_ctx_free(ctx);
  return out;
}

// Flat panels with rows of short dark strokes: what an editor or a browser
// window mostly shows.
RgbImage uiLikeImage(std::uint32_t width, std::uint32_t height) {
  RgbImage image{width, height, std::vector<std::uint8_t>(std::size_t{width} * height * 3)};
  std::uint32_t state = 0x9E3779B9;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      std::uint8_t* p = &image.pixels[(std::size_t{y} * width + x) * 3];
      const bool sidebar = x < 240, toolbar = y < 48;
      const std::uint8_t shade = toolbar ? 230 : sidebar ? 243 : 255;
      p[0] = p[1] = p[2] = shade;
      if (toolbar) p[2] = 250;
    }
  }
  for (std::uint32_t line = 60; line + 14 < height; line += 22) {
    std::uint32_t x = (line / 22) % 3 == 0 ? 256 : 280;
    while (x + 12 < width - 40) {
      const std::uint32_t glyphs = 2 + next() % 9;
      for (std::uint32_t g = 0; g < glyphs && x + 8 < width; ++g, x += 8) {
        const std::uint32_t bits = next();
        for (std::uint32_t dy = 0; dy < 12; ++dy) {
          for (std::uint32_t dx = 0; dx < 6; ++dx) {
            if ((bits >> ((dy * 6 + dx) % 32)) & 1) {
              std::uint8_t* p = &image.pixels[(std::size_t{line + dy} * width + x + dx) * 3];
              p[0] = p[1] = p[2] = 40;
            }
          }
        }
      }
      x += 8;
    }
  }
  return image;
}

double medianMilliseconds(const std::function<std::string()>& encode, std::size_t& size) {
  std::vector<double> times;
  for (int run = 0; run < 7; ++run) {
    const auto start = std::chrono::steady_clock::now();
    size = encode().size();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main() {
  RgbImage photo{1200, 750, {}};
  for (const auto& p : halvic::e2e::photoPixels(photo.width, photo.height)) {
    photo.pixels.insert(photo.pixels.end(), {p.r, p.g, p.b});
  }
  const RgbImage ui = uiLikeImage(1200, 750);

  using Encode = std::function<std::string(const RgbImage&)>;
  std::vector<std::pair<std::string, Encode>> candidates;
  const std::pair<const char*, RowFilter> filters[] = {{"none", RowFilter::None},   {"sub", RowFilter::Sub},
                                                       {"up", RowFilter::Up},       {"avg", RowFilter::Average},
                                                       {"paeth", RowFilter::Paeth}, {"adaptive", RowFilter::Adaptive}};
  for (int level : {1, 2, 4, 6}) {
    for (const auto& [name, filter] : filters) {
      candidates.emplace_back("libdeflate L" + std::to_string(level) + " " + name,
                              [level, filter = filter](const RgbImage& image) {
                                return halvic::capture::encodePng(image, {level, filter});
                              });
    }
  }
  const std::pair<const char*, int> strategies[] = {
      {"default", Z_DEFAULT_STRATEGY}, {"rle", Z_RLE}, {"huffman", Z_HUFFMAN_ONLY}};
  const std::pair<const char*, int> pngFilters[] = {{"up", PNG_FILTER_UP}, {"all", PNG_ALL_FILTERS}};
  const std::pair<const char*, int> spngFilters[] = {{"up", SPNG_FILTER_CHOICE_UP}, {"all", SPNG_FILTER_CHOICE_ALL}};
  for (int level : {1, 6}) {
    for (std::size_t f = 0; f < 2; ++f) {
      for (const auto& [sname, s] : strategies) {
        const std::string suffix = std::to_string(level) + " " + pngFilters[f].first + " " + sname;
        candidates.emplace_back("libpng+zlib L" + suffix, [level, f = pngFilters[f].second, s = s](const RgbImage& i) {
          return libpngEncode(i, level, f, s);
        });
        candidates.emplace_back("libspng+zlib L" + suffix, [level, f = spngFilters[f].second, s = s](const RgbImage& i) {
          return spngEncode(i, level, f, s);
        });
      }
    }
  }
  std::printf("| encoder and settings | photo-like ms | photo-like bytes | UI-like ms | UI-like bytes |\n");
  std::printf("|---|---:|---:|---:|---:|\n");
  for (const auto& [name, encode] : candidates) {
    std::size_t photoSize = 0, uiSize = 0;
    const double photoMs = medianMilliseconds([&, &encode = encode] { return encode(photo); }, photoSize);
    const double uiMs = medianMilliseconds([&, &encode = encode] { return encode(ui); }, uiSize);
    std::printf("| %s | %.1f | %zu | %.1f | %zu |\n", name.c_str(), photoMs, photoSize, uiMs, uiSize);
  }
}
