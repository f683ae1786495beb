// UTF-16 code units, as the macOS string objects hand them out, turned into
// UTF-8 text. Portable so that the rule is tested on every platform.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace halvic {

// The UTF-8 text of `units`. A platform string may hold a lone surrogate (a
// window title cut in the middle of an emoji, say); each one becomes U+FFFD, so
// the result is always valid UTF-8 and the JSON writer never rejects it. A NUL
// unit is kept.
inline std::string utf8FromUtf16(std::span<const std::uint16_t> units) {
  std::string text;
  text.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t point = units[i];
    const bool high = point >= 0xD800 && point <= 0xDBFF;
    if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      point = 0x10000 + ((point - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
      ++i;
    } else if (point >= 0xD800 && point <= 0xDFFF) {
      point = 0xFFFD;
    }
    if (point < 0x80) {
      text += static_cast<char>(point);
    } else if (point < 0x800) {
      text += static_cast<char>(0xC0 | (point >> 6));
      text += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
      text += static_cast<char>(0xE0 | (point >> 12));
      text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (point & 0x3F));
    } else {
      text += static_cast<char>(0xF0 | (point >> 18));
      text += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
      text += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (point & 0x3F));
    }
  }
  return text;
}

}  // namespace halvic
