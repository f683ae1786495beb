// An absolute point in time, as seconds since 1970-01-01T00:00:00Z.
#pragma once

#include <compare>

namespace halvic {

struct Instant {
  double secondsSince1970 = 0.0;
  friend auto operator<=>(const Instant&, const Instant&) = default;
};

}  // namespace halvic
