#include "loose_value.h"

#include "saturating.h"

namespace halvic {

NumberObject NumberObject::fromDouble(double d) { return {truncatedToInt64(d), d}; }

}  // namespace halvic
