#include "loose_value.h"

#include <cmath>
#include <limits>

namespace halvic {

NumberObject NumberObject::fromDouble(double d) {
  // The integer view must stay defined for every double: converting an
  // out-of-range or NaN double to an integer is undefined behaviour, so
  // saturate instead and read NaN as 0.
  constexpr double kTwoPow63 = 9223372036854775808.0;
  std::int64_t integer = 0;
  if (std::isnan(d)) {
    integer = 0;
  } else if (d >= kTwoPow63) {
    integer = std::numeric_limits<std::int64_t>::max();
  } else if (d < -kTwoPow63) {
    integer = std::numeric_limits<std::int64_t>::min();
  } else {
    integer = static_cast<std::int64_t>(d);  // truncates toward zero
  }
  return {integer, d};
}

}  // namespace halvic
