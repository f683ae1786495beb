// Reading numbers, rectangles and text out of loosely typed window records.
// Every conversion has a default, so a missing or mistyped value never stops a run.
#pragma once

#include <cstdint>
#include <string_view>

#include "loose_value.h"

namespace halvic {

// A window frame in screen points, exactly as stored: width and height may be
// negative, and callers take absolute values where a size is meant.
struct Rect {
  double x = 0.0;
  double y = 0.0;
  double width = 0.0;
  double height = 0.0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

// Number object: its integer view; native integer: itself; a string holding a
// whole base-10 integer (optional leading '+' or '-', no blanks, no overflow):
// its value. Anything else, absent (nullptr) included: 0.
std::int64_t cgIntValue(const LooseValue* value);

// Number object: its double view; native double: itself; native integer:
// converted; a string that reads in full as a floating-point number: its
// value. Anything else, absent (nullptr) included: 0.0.
double cgDoubleValue(const LooseValue* value);

// The "X", "Y", "Width" and "Height" entries of a bounds record through
// cgDoubleValue; missing entries read 0.0.
Rect rectFromBounds(const LooseMap& bounds);

// The bounds record that rectFromBounds reads back: whole numbers from the
// integer overload, the values as they are from the Rect one.
LooseMap boundsRecord(std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height);
LooseMap boundsRecord(const Rect& rect);

// `text` (UTF-8) without leading and trailing white space and line breaks:
// Unicode separators (Zs, Zl, Zp), U+0009..U+000D and U+0085.
std::string_view trimWhitespaceAndNewlines(std::string_view text);

}  // namespace halvic
