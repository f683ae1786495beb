// The rules by which the macOS backend shapes the window list's property-list
// values into loose values. They live apart from the Objective-C++ file so that
// tests on every platform hold them; the backend only reads the platform's
// objects and hands the pieces to these functions.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "loose_value.h"

namespace halvic {

// How a platform number object holds its value, as told by the first character
// of its Objective-C type encoding (-[NSNumber objCType]). Booleans ("c" or "B")
// are signed integers 0 and 1, as the platform's integer view reads them.
enum class NumberStorage { signedInteger, unsignedInteger, floatingPoint };

inline NumberStorage numberStorage(const char* objCType) {
  if (objCType == nullptr) {
    return NumberStorage::signedInteger;
  }
  switch (objCType[0]) {
    case 'f':
    case 'd':
      return NumberStorage::floatingPoint;
    case 'C':
    case 'S':
    case 'I':
    case 'L':
    case 'Q':
      return NumberStorage::unsignedInteger;
    default:
      return NumberStorage::signedInteger;
  }
}

// An unsigned value past the signed range saturates in the integer view, as a
// floating value does (NumberObject::fromDouble); the window server never sends
// one.
inline NumberObject numberObjectFromUnsigned(std::uint64_t value) {
  constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
  const std::int64_t integer =
      value > static_cast<std::uint64_t>(largest) ? largest : static_cast<std::int64_t>(value);
  return {integer, static_cast<double>(value)};
}

// The number object for a platform number with type encoding `objCType`. Only
// the reading that fits its storage is taken: the platform's integer reading
// of a NaN or out-of-range double is not something to rely on, so a floating
// value gets its integer view from NumberObject::fromDouble (truncated toward
// zero, saturated).
template <class ReadSigned, class ReadUnsigned, class ReadDouble>
NumberObject numberObjectFrom(const char* objCType, ReadSigned readSigned, ReadUnsigned readUnsigned,
                              ReadDouble readDouble) {
  switch (numberStorage(objCType)) {
    case NumberStorage::floatingPoint:
      return NumberObject::fromDouble(readDouble());
    case NumberStorage::unsignedInteger:
      return numberObjectFromUnsigned(readUnsigned());
    case NumberStorage::signedInteger:
      break;
  }
  return NumberObject::fromInteger(readSigned());
}

// The entries of one platform dictionary: each key as text when it is a string,
// nullopt when it is anything else.
using DictionaryEntries = std::vector<std::pair<std::optional<std::string>, LooseValue>>;

// A dictionary is a string-keyed map only when every key is a string; with any
// other key the whole dictionary is a value the conversions do not read (Other),
// so a record or bounds map never comes half-read.
inline LooseValue looseValueFromDictionary(DictionaryEntries entries) {
  LooseMap map;
  for (auto& [key, value] : entries) {
    if (!key) {
      return LooseValue::Other{};
    }
    map.insert_or_assign(std::move(*key), std::move(value));
  }
  return LooseValue(std::move(map));
}

}  // namespace halvic
