// UTF-8 helpers for the fuzz harnesses, written apart from the code under test
// (by decoding code points rather than by byte ranges) so that the two can
// disagree when one of them is wrong.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halvic::fuzz {

// The code points of `bytes`, or nullopt when it is not well-formed UTF-8:
// a stray or missing continuation byte, an overlong form, a UTF-16 surrogate
// or a value past U+10FFFF.
inline std::optional<std::vector<char32_t>> decodeUtf8(std::string_view bytes) {
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  std::vector<char32_t> out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    int length;
    char32_t cp;
    if (lead < 0x80) {
      length = 1, cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, cp = lead & 0x07;
    } else {
      return std::nullopt;
    }
    if (bytes.size() - i < static_cast<std::size_t>(length)) return std::nullopt;
    for (int k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < kSmallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    out.push_back(cp);
    i += length;
  }
  return out;
}

inline bool wellFormedUtf8(std::string_view bytes) { return decodeUtf8(bytes).has_value(); }

// Encodes any value below 2^21 the plain way, surrogates included, so that a
// harness can also make ill-formed text on purpose.
inline void appendCodePoint(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | ((cp >> 18) & 0x07)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The white space and line breaks that titles and owner names are trimmed of:
// Unicode space separators, the line and paragraph separators, U+0009 to
// U+000D and U+0085.
inline bool isTrimmedAway(char32_t cp) {
  switch (cp) {
    case 0x0009: case 0x000A: case 0x000B: case 0x000C: case 0x000D:
    case 0x0020: case 0x0085: case 0x00A0: case 0x1680:
    case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return cp >= 0x2000 && cp <= 0x200A;
  }
}

// `text` without white space and line breaks at either end; text that is not
// well-formed UTF-8 is returned unchanged.
inline std::string trimmed(std::string_view text) {
  auto cps = decodeUtf8(text);
  if (!cps) return std::string(text);
  std::size_t begin = 0, end = cps->size();
  while (begin < end && isTrimmedAway((*cps)[begin])) ++begin;
  while (end > begin && isTrimmedAway((*cps)[end - 1])) --end;
  std::string out;
  for (std::size_t i = begin; i < end; ++i) appendCodePoint(out, (*cps)[i]);
  return out;
}

}  // namespace halvic::fuzz
