// Doubles to integers without undefined behaviour.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace halvic {

// `d` truncated toward zero, as a cast does, but saturated at the ends of
// int64 and 0 for NaN: casting an out-of-range double is undefined.
inline std::int64_t truncatedToInt64(double d) {
  constexpr double kTwoPow63 = 9223372036854775808.0;  // exact as a double
  if (std::isnan(d)) return 0;
  if (d >= kTwoPow63) return std::numeric_limits<std::int64_t>::max();
  if (d < -kTwoPow63) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(d);
}

}  // namespace halvic
