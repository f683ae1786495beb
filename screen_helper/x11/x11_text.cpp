#include "x11_text.h"

#include <cstdint>

#include "utf8_repair.h"

namespace halvic::x11 {

std::string sanitizedUtf8(std::string_view bytes) { return repairedUtf8(bytes.substr(0, bytes.find('\0'))); }

std::string latin1ToUtf8(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\0'));
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

}  // namespace halvic::x11
