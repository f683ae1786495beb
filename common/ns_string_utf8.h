// NSString to std::string for the macOS backends (Objective-C++ only).
#pragma once

#import <Foundation/Foundation.h>

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "utf16_text.h"

namespace halvic {

static_assert(std::is_same_v<unichar, std::uint16_t>, "unichar is a UTF-16 code unit");

// Reads the UTF-16 units rather than -UTF8String, which gives NULL for a string
// that holds a lone surrogate.
inline std::string utf8String(NSString* _Nonnull string) {
  const NSUInteger length = string.length;
  std::vector<unichar> units(length);
  if (length > 0) {
    [string getCharacters:units.data() range:NSMakeRange(0, length)];
  }
  return utf8FromUtf16(units);
}

// nil stays absent; the logic picks the default that its records need. The
// checked value gets a name of its own: the nullability check is not flow
// sensitive, and the name says it was checked.
inline std::optional<std::string> optionalUtf8String(NSString* _Nullable string) {
  if (NSString* present = string) {
    return utf8String(present);
  }
  return std::nullopt;
}

}  // namespace halvic
