#include "uuid.h"

#include <sys/types.h>
// getentropy: declared here on both Linux and macOS
#include <sys/random.h>

#include <array>
#include <cstdint>
#include <random>

namespace halvic {
namespace {

// 16 bytes from the kernel's CSPRNG. getentropy only fails on systems too old
// to have it; std::random_device, also non-deterministic there, stands in.
std::array<std::uint8_t, 16> randomBytes() {
  std::array<std::uint8_t, 16> bytes{};
  if (::getentropy(bytes.data(), bytes.size()) != 0) {
    std::random_device device;
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(device());
  }
  return bytes;
}

}  // namespace

std::string makeUuidString() {
  std::array<std::uint8_t, 16> bytes = randomBytes();
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant

  constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(36);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    text.push_back(kHex[bytes[i] >> 4]);
    text.push_back(kHex[bytes[i] & 0x0F]);
  }
  return text;
}

}  // namespace halvic
