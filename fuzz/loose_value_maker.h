// Turns fuzz input into loose values of every kind the window list can hold,
// with strings biased toward text that almost reads as a number.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "loose_value.h"
#include "utf8_reference.h"

namespace halvic::fuzz {

inline double makeAnyDouble(FuzzedDataProvider& in) {
  static constexpr double kNotable[] = {0.0, -0.0, 0.01, 0.011, 60.0, 79.5, 80.0, -200.0, 0.5, -0.5,
                                        9223372036854775807.0, -9223372036854775808.0, 1e308,
                                        std::numeric_limits<double>::denorm_min(),
                                        std::numeric_limits<double>::infinity(),
                                        -std::numeric_limits<double>::infinity(),
                                        std::numeric_limits<double>::quiet_NaN()};
  if (in.ConsumeBool()) return in.PickValueInArray(kNotable);
  return std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>());
}

inline std::int64_t makeAnyInteger(FuzzedDataProvider& in) {
  static constexpr std::int64_t kNotable[] = {0, 1, -1, 25, std::numeric_limits<std::int32_t>::max(),
                                              std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1,
                                              std::numeric_limits<std::int64_t>::max(),
                                              std::numeric_limits<std::int64_t>::min()};
  if (in.ConsumeBool()) return in.PickValueInArray(kNotable);
  return in.ConsumeIntegral<std::int64_t>();
}

// Pieces of numbers, of things that look like numbers, and of things that a
// lenient reader might skip.
inline std::string makeNumberLikeText(FuzzedDataProvider& in) {
  static constexpr std::string_view kPieces[] = {
      "0", "1", "7", "9", "42", "640", "+", "-", ".", "e", "E", "e-", "e+", "inf", "infinity", "nan",
      "nan(1)", "0x", "1p4", " ", "\t", "\n", "_", ",", "\xD9\xA3" /* Arabic-Indic three */,
      "\xEF\xBC\x91" /* fullwidth one */, "9223372036854775807", "9223372036854775808",
      "-9223372036854775808", "18446744073709551616", "1e308", "1e309", "1e-400", "000"};
  std::string s;
  const auto pieces = in.ConsumeIntegralInRange<int>(0, 6);
  for (int i = 0; i < pieces; ++i) {
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
      s += in.ConsumeBytesAsString(1);
    } else {
      s += in.PickValueInArray(kPieces);
    }
  }
  return s;
}

// Well-formed UTF-8 from code points, blanks and line breaks of every kind
// among them.
inline std::string makeUtf8Text(FuzzedDataProvider& in) {
  static constexpr char32_t kNotable[] = {' ', '\t', '\n', '\r', 0x0B, 0x0C, 0x85, 0xA0, 0x1680, 0x2000, 0x200A,
                                          0x200B /* zero width: not trimmed */, 0x2028, 0x2029, 0x202F, 0x205F,
                                          0x3000, 0xFEFF, 'a', 'D', 0x131 /* dotless i */, 0x1F600};
  std::string s;
  const auto count = in.ConsumeIntegralInRange<int>(0, 8);
  for (int i = 0; i < count; ++i) {
    char32_t cp = in.ConsumeBool() ? in.PickValueInArray(kNotable) : in.ConsumeIntegralInRange<char32_t>(0, 0x10FFFF);
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
    appendCodePoint(s, cp);
  }
  return s;
}

inline std::string makeAnyText(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 0: return makeNumberLikeText(in);
    case 1: return makeUtf8Text(in);
    default: return in.ConsumeRandomLengthString(24);
  }
}

inline LooseValue makeAnyLooseValue(FuzzedDataProvider& in, int depth = 0);

// A map with bounds keys, their near misses, and arbitrary keys.
inline LooseMap makeAnyLooseMap(FuzzedDataProvider& in, int depth) {
  static constexpr std::string_view kKeys[] = {"X", "Y", "Width", "Height", "x", "width", "Height ", "HEIGHT"};
  LooseMap map;
  const auto entries = in.ConsumeIntegralInRange<int>(0, 6);
  for (int i = 0; i < entries; ++i) {
    std::string key = in.ConsumeBool() ? std::string(in.PickValueInArray(kKeys)) : in.ConsumeRandomLengthString(8);
    map.insert_or_assign(std::move(key), makeAnyLooseValue(in, depth + 1));
  }
  return map;
}

inline LooseValue makeAnyLooseValue(FuzzedDataProvider& in, int depth) {
  const int lastKind = depth >= 3 ? 6 : 7;
  switch (in.ConsumeIntegralInRange<int>(0, lastKind)) {
    case 0: return LooseValue::Other{};
    case 1: return NumberObject::fromDouble(makeAnyDouble(in));
    case 2: return NumberObject::fromInteger(makeAnyInteger(in));
    case 3: return NumberObject{makeAnyInteger(in), makeAnyDouble(in)};  // views need not agree
    case 4: return makeAnyInteger(in);
    case 5: return makeAnyDouble(in);
    case 6: return makeAnyText(in);
    default: return makeAnyLooseMap(in, depth);
  }
}

}  // namespace halvic::fuzz
