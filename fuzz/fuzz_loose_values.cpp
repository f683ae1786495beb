// Fuzzes the loose conversions that read window records: cgIntValue,
// cgDoubleValue, rectFromBounds, the trimming of titles and owner names, and
// the integer view of a number object. Each result is held against a
// reference written here from the documented rules.
#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "loose_value.h"
#include "loose_value_maker.h"
#include "utf8_reference.h"
#include "window_record.h"

using namespace halvic;

namespace {

[[noreturn]] void fail(const char* what, std::string_view text = {}) {
  std::fprintf(stderr, "fuzz_loose_values: %s\n  text: \"%.*s\"\n", what, static_cast<int>(text.size()), text.data());
  std::abort();
}

bool sameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) || (std::isnan(a) && std::isnan(b));
}

bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// A whole base-10 signed 64-bit integer: an optional sign, then one or more
// ASCII digits, and nothing else; nullopt for anything else or on overflow.
// Accumulates toward the negative side, which holds one value more.
std::optional<std::int64_t> wholeInteger(std::string_view s) {
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (char c : s) {
    if (!isAsciiDigit(c)) return std::nullopt;
    const int digit = c - '0';
    if (value < (std::numeric_limits<std::int64_t>::min() + digit) / 10) return std::nullopt;
    value = value * 10 - digit;
  }
  if (!negative) {
    if (value == std::numeric_limits<std::int64_t>::min()) return std::nullopt;
    value = -value;
  }
  return value;
}

// The reference must itself agree with std::from_chars wherever from_chars
// applies (no leading '+').
void checkReferenceAgainstFromChars(std::string_view s, std::optional<std::int64_t> reference) {
  if (!s.empty() && s.front() == '+') return;
  std::int64_t parsed = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), parsed);
  const bool whole = ec == std::errc() && end == s.data() + s.size();
  if (whole != reference.has_value() || (whole && parsed != *reference))
    fail("the integer reference disagrees with std::from_chars", s);
}

// Plain decimal notation: optional sign, digits, optionally a point and more
// digits. Text of this form must read as a number.
bool isPlainDecimal(std::string_view s) {
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) s.remove_prefix(1);
  const auto point = s.find('.');
  const auto whole = s.substr(0, point);
  const auto fraction = point == std::string_view::npos ? std::string_view("0") : s.substr(point + 1);
  auto digitsOnly = [](std::string_view part) {
    if (part.empty()) return false;
    for (char c : part)
      if (!isAsciiDigit(c)) return false;
    return true;
  };
  return digitsOnly(whole) && digitsOnly(fraction);
}

void checkIntegerOfText(const std::string& s, std::int64_t got) {
  const auto expected = wholeInteger(s);
  checkReferenceAgainstFromChars(s, expected);
  if (got != expected.value_or(0)) fail("cgIntValue of a string is not its whole base-10 value (or 0)", s);
}

// The grammar beyond plain decimals is the implementer's, so the check is
// two-sided: plain decimals must read exactly as the C library reads them,
// and whatever else reads as non-zero must be text that the C library reads
// in full, from its first character, to the same value.
void checkDoubleOfText(const std::string& s, double got) {
  errno = 0;
  char* end = nullptr;
  const double c = std::strtod(s.c_str(), &end);
  const bool readsInFull = !s.empty() && end == s.c_str() + s.size() && !std::isspace(static_cast<unsigned char>(s[0]));
  const bool inRange = errno != ERANGE;
  if (isPlainDecimal(s) && inRange) {
    if (!sameBits(got, c)) fail("cgDoubleValue of a plain decimal is not its value", s);
    return;
  }
  if (std::bit_cast<std::uint64_t>(got) == 0) return;  // "does not read in full"
  if (!readsInFull || !sameBits(got, c)) fail("cgDoubleValue accepted text that is not a whole number", s);
}

void checkInteger(const LooseValue* v) {
  const std::int64_t got = cgIntValue(v);
  if (v == nullptr) {
    if (got != 0) fail("cgIntValue of an absent value is not 0");
    return;
  }
  const auto& variant = v->variant();
  if (auto* n = std::get_if<NumberObject>(&variant)) {
    if (got != n->integerValue) fail("cgIntValue of a number object is not its integer view");
  } else if (auto* i = std::get_if<std::int64_t>(&variant)) {
    if (got != *i) fail("cgIntValue of a native integer is not itself");
  } else if (auto* s = std::get_if<std::string>(&variant)) {
    checkIntegerOfText(*s, got);
  } else if (got != 0) {
    fail("cgIntValue of a native double, a map or another kind is not 0");
  }
}

void checkDouble(const LooseValue* v, double got, const char* what) {
  if (v == nullptr) {
    if (std::bit_cast<std::uint64_t>(got) != 0) fail(what);
    return;
  }
  const auto& variant = v->variant();
  if (auto* n = std::get_if<NumberObject>(&variant)) {
    if (!sameBits(got, n->doubleValue)) fail(what);
  } else if (auto* d = std::get_if<double>(&variant)) {
    if (!sameBits(got, *d)) fail(what);
  } else if (auto* i = std::get_if<std::int64_t>(&variant)) {
    if (!sameBits(got, static_cast<double>(*i))) fail(what);
  } else if (auto* s = std::get_if<std::string>(&variant)) {
    checkDoubleOfText(*s, got);
  } else if (std::bit_cast<std::uint64_t>(got) != 0) {
    fail(what);
  }
}

void checkRect(const LooseMap& bounds) {
  const Rect rect = rectFromBounds(bounds);
  checkDouble(lookup(bounds, "X"), rect.x, "rectFromBounds: x is not cgDoubleValue of \"X\"");
  checkDouble(lookup(bounds, "Y"), rect.y, "rectFromBounds: y is not cgDoubleValue of \"Y\"");
  checkDouble(lookup(bounds, "Width"), rect.width, "rectFromBounds: width is not cgDoubleValue of \"Width\"");
  checkDouble(lookup(bounds, "Height"), rect.height, "rectFromBounds: height is not cgDoubleValue of \"Height\"");
}

// The integer view of a double: truncated toward zero, saturated at the
// int64 range, NaN read as 0; the double view unchanged.
void checkNumberObjectFromDouble(double d) {
  const NumberObject n = NumberObject::fromDouble(d);
  std::int64_t expected;
  if (std::isnan(d)) {
    expected = 0;
  } else if (d >= 0x1p63) {
    expected = std::numeric_limits<std::int64_t>::max();
  } else if (d < -0x1p63) {
    expected = std::numeric_limits<std::int64_t>::min();
  } else {
    expected = static_cast<std::int64_t>(std::trunc(d));
  }
  if (n.integerValue != expected) fail("NumberObject::fromDouble: the integer view is not truncated and saturated");
  if (!sameBits(n.doubleValue, d)) fail("NumberObject::fromDouble: the double view changed");
}

void checkTrim(const std::string& text) {
  const std::string_view got = trimWhitespaceAndNewlines(text);
  if (got.data() < text.data() || got.data() + got.size() > text.data() + text.size())
    fail("trimWhitespaceAndNewlines returned text outside its argument", text);
  if (fuzz::wellFormedUtf8(text) && got != fuzz::trimmed(text))
    fail("trimWhitespaceAndNewlines trims another set of characters", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: {
      const bool absent = in.ConsumeIntegralInRange<int>(0, 15) == 0;
      const LooseValue value = fuzz::makeAnyLooseValue(in);
      const LooseValue* v = absent ? nullptr : &value;
      checkInteger(v);
      checkDouble(v, cgDoubleValue(v), "cgDoubleValue is not the documented view of the value");
      break;
    }
    case 1: checkRect(fuzz::makeAnyLooseMap(in, 0)); break;
    case 2: checkNumberObjectFromDouble(fuzz::makeAnyDouble(in)); break;
    default: checkTrim(in.ConsumeBool() ? fuzz::makeUtf8Text(in) : in.ConsumeRandomLengthString(32)); break;
  }
  return 0;
}
