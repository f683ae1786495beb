#include "window_record.h"

#include <fast_float/fast_float.h>

#include <array>
#include <charconv>
#include <cmath>
#include <system_error>
#include <type_traits>
#include <variant>

namespace halvic {
namespace {

bool readNumber(const char* first, const char* last, std::int64_t& out) {
  const auto [ptr, ec] = std::from_chars(first, last, out);
  return ec == std::errc{} && ptr == last;
}

// fast_float reads what std::from_chars reads for a double (decimal digits
// with an optional point and exponent, "inf", "infinity", "nan", "nan(...)",
// any case; never a locale's decimal comma), and std::from_chars has no double
// overload in every C++ library. Debian 12's fast_float reports no range error
// (later ones do, as std::from_chars does), so a number too large for a double
// (read as infinity) or too small (read as zero although a digit is not zero)
// is rejected here.
bool readNumber(const char* first, const char* last, double& out) {
  const auto [ptr, ec] = fast_float::from_chars(first, last, out);
  if (ec != std::errc{} || ptr != last) return false;
  std::string_view text(first, static_cast<std::size_t>(last - first));
  if (std::isinf(out)) {
    if (text.starts_with('-')) text.remove_prefix(1);
    return text.starts_with('i') || text.starts_with('I');
  }
  if (out == 0.0) {
    return text.substr(0, text.find_first_of("eE")).find_first_of("123456789") == std::string_view::npos;
  }
  return true;
}

// Reads the whole of `text` as a base-10 number. Both readers accept a
// leading '-' but not '+', so a '+' is stripped first, and only when a digit
// or point follows, so "+-1" stays unreadable.
template <typename Number>
bool parseWhole(std::string_view text, Number& out) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (text.empty() || text.front() == '-' || text.front() == '+') return false;
  }
  Number parsed{};
  if (!readNumber(text.data(), text.data() + text.size(), parsed)) return false;
  out = parsed;
  return true;
}

// The trimmed characters, as their UTF-8 byte sequences. Matching encoded
// sequences instead of decoding keeps trimming well defined on any bytes.
constexpr std::array<std::string_view, 25> kTrimmedSequences = {
    "\t", "\n", "\v", "\f", "\r", " ",
    "\xC2\x85",      // U+0085 next line
    "\xC2\xA0",      // U+00A0 no-break space
    "\xE1\x9A\x80",  // U+1680 ogham space mark
    "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85",
    "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A",  // U+2000..U+200A
    "\xE2\x80\xA8",  // U+2028 line separator
    "\xE2\x80\xA9",  // U+2029 paragraph separator
    "\xE2\x80\xAF",  // U+202F narrow no-break space
    "\xE2\x81\x9F",  // U+205F medium mathematical space
    "\xE3\x80\x80",  // U+3000 ideographic space
};

std::size_t leadingTrimmedLength(std::string_view text) {
  for (std::string_view seq : kTrimmedSequences)
    if (text.starts_with(seq)) return seq.size();
  return 0;
}

std::size_t trailingTrimmedLength(std::string_view text) {
  for (std::string_view seq : kTrimmedSequences)
    if (text.ends_with(seq)) return seq.size();
  return 0;
}

}  // namespace

std::int64_t cgIntValue(const LooseValue* value) {
  if (value == nullptr) return 0;
  return std::visit(
      [](const auto& v) -> std::int64_t {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, NumberObject>) {
          return v.integerValue;
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          return v;
        } else if constexpr (std::is_same_v<T, std::string>) {
          std::int64_t parsed = 0;
          return parseWhole(v, parsed) ? parsed : 0;
        } else {
          return 0;
        }
      },
      value->variant());
}

double cgDoubleValue(const LooseValue* value) {
  if (value == nullptr) return 0.0;
  return std::visit(
      [](const auto& v) -> double {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, NumberObject>) {
          return v.doubleValue;
        } else if constexpr (std::is_same_v<T, double>) {
          return v;
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          return static_cast<double>(v);
        } else if constexpr (std::is_same_v<T, std::string>) {
          double parsed = 0.0;
          return parseWhole(v, parsed) ? parsed : 0.0;
        } else {
          return 0.0;
        }
      },
      value->variant());
}

Rect rectFromBounds(const LooseMap& bounds) {
  return {cgDoubleValue(lookup(bounds, "X")), cgDoubleValue(lookup(bounds, "Y")),
          cgDoubleValue(lookup(bounds, "Width")), cgDoubleValue(lookup(bounds, "Height"))};
}

LooseMap boundsRecord(std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height) {
  return {{"X", NumberObject::fromInteger(x)},
          {"Y", NumberObject::fromInteger(y)},
          {"Width", NumberObject::fromInteger(width)},
          {"Height", NumberObject::fromInteger(height)}};
}

LooseMap boundsRecord(const Rect& rect) {
  return {{"X", NumberObject::fromDouble(rect.x)},
          {"Y", NumberObject::fromDouble(rect.y)},
          {"Width", NumberObject::fromDouble(rect.width)},
          {"Height", NumberObject::fromDouble(rect.height)}};
}

std::string_view trimWhitespaceAndNewlines(std::string_view text) {
  while (std::size_t n = leadingTrimmedLength(text)) text.remove_prefix(n);
  while (std::size_t n = trailingTrimmedLength(text)) text.remove_suffix(n);
  return text;
}

}  // namespace halvic
