#include "png_encoder.h"

#include <libdeflate.h>

#include <array>
#include <cstdlib>
#include <memory>

namespace halvic::capture {
namespace {

constexpr std::size_t kBytesPerPixel = 3;

std::uint8_t paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
  return static_cast<std::uint8_t>(pb <= pc ? b : c);
}

// Writes `row` filtered with `filter` (never Adaptive) to `out`, filter byte first.
void filterRow(RowFilter filter, const std::uint8_t* row, const std::uint8_t* prior, std::size_t length,
               std::uint8_t* out) {
  *out++ = static_cast<std::uint8_t>(filter);
  for (std::size_t i = 0; i < length; ++i) {
    const int a = i >= kBytesPerPixel ? row[i - kBytesPerPixel] : 0;
    const int b = prior ? prior[i] : 0;
    const int c = prior && i >= kBytesPerPixel ? prior[i - kBytesPerPixel] : 0;
    int predicted = 0;
    switch (filter) {
      case RowFilter::Sub: predicted = a; break;
      case RowFilter::Up: predicted = b; break;
      case RowFilter::Average: predicted = (a + b) / 2; break;
      case RowFilter::Paeth: predicted = paeth(a, b, c); break;
      default: break;
    }
    out[i] = static_cast<std::uint8_t>(row[i] - predicted);
  }
}

// The filter whose output has the smallest sum of absolute signed bytes, the
// heuristic libpng and the PNG book recommend for true-colour images.
void filterRowAdaptive(const std::uint8_t* row, const std::uint8_t* prior, std::size_t length, std::uint8_t* out,
                       std::uint8_t* scratch) {
  constexpr std::array candidates{RowFilter::None, RowFilter::Sub, RowFilter::Up, RowFilter::Average,
                                  RowFilter::Paeth};
  unsigned long best = ~0ul;
  for (RowFilter filter : candidates) {
    filterRow(filter, row, prior, length, scratch);
    unsigned long sum = 0;
    for (std::size_t i = 1; i <= length; ++i) sum += static_cast<unsigned long>(std::abs(static_cast<std::int8_t>(scratch[i])));
    if (sum < best) {
      best = sum;
      std::copy(scratch, scratch + length + 1, out);
    }
  }
}

void putBigEndian(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void putChunk(std::string& out, const char (&type)[5], const std::uint8_t* data, std::size_t length) {
  putBigEndian(out, static_cast<std::uint32_t>(length));
  const std::size_t start = out.size();
  out.append(type, 4);
  out.append(reinterpret_cast<const char*>(data), length);
  putBigEndian(out, libdeflate_crc32(0, out.data() + start, length + 4));
}

struct CompressorDeleter {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

}  // namespace

std::string encodePng(const RgbImage& image, PngSettings settings) {
  if (image.width == 0 || image.height == 0) return {};
  const std::size_t rowLength = static_cast<std::size_t>(image.width) * kBytesPerPixel;
  std::vector<std::uint8_t> filtered((rowLength + 1) * image.height);
  std::vector<std::uint8_t> scratch(rowLength + 1);
  for (std::uint32_t y = 0; y < image.height; ++y) {
    const std::uint8_t* row = image.pixels.data() + y * rowLength;
    const std::uint8_t* prior = y > 0 ? row - rowLength : nullptr;
    std::uint8_t* out = filtered.data() + y * (rowLength + 1);
    if (settings.filter == RowFilter::Adaptive) {
      filterRowAdaptive(row, prior, rowLength, out, scratch.data());
    } else {
      filterRow(settings.filter, row, prior, rowLength, out);
    }
  }

  std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(libdeflate_alloc_compressor(settings.level));
  if (!compressor) return {};
  std::vector<std::uint8_t> compressed(libdeflate_zlib_compress_bound(compressor.get(), filtered.size()));
  const std::size_t compressedSize = libdeflate_zlib_compress(compressor.get(), filtered.data(), filtered.size(),
                                                              compressed.data(), compressed.size());
  if (compressedSize == 0) return {};

  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::array<std::uint8_t, 13> header{};
  for (int i = 0; i < 4; ++i) {
    header[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(image.width >> (24 - 8 * i));
    header[static_cast<std::size_t>(4 + i)] = static_cast<std::uint8_t>(image.height >> (24 - 8 * i));
  }
  header[8] = 8;   // bits per channel
  header[9] = 2;   // colour type: RGB
  header[10] = 0;  // deflate
  header[11] = 0;  // adaptive filtering (per-row filter byte)
  header[12] = 0;  // no interlace
  putChunk(png, "IHDR", header.data(), header.size());
  putChunk(png, "IDAT", compressed.data(), compressedSize);
  putChunk(png, "IEND", nullptr, 0);
  return png;
}

}  // namespace halvic::capture
