// Loosely typed values as the platform's window list reports them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>

namespace halvic {

// A platform number object: one value seen through an integer view (fraction
// dropped toward zero) and a double view, as the macOS window list gives every
// numeric value.
struct NumberObject {
  std::int64_t integerValue = 0;
  double doubleValue = 0.0;

  static NumberObject fromInteger(std::int64_t i) { return {i, static_cast<double>(i)}; }
  static NumberObject fromDouble(double d);  // integer view truncated toward zero, saturated
  friend bool operator==(const NumberObject&, const NumberObject&) = default;
};

class LooseValue;
// A string-keyed map of loose values: a window record or a bounds record.
using LooseMap = std::map<std::string, LooseValue, std::less<>>;

// One loose value. `Other` stands for any kind the conversions do not read
// (a boolean, a list, a date...). An absent value is a missing map entry.
class LooseValue {
 public:
  struct Other {
    friend bool operator==(const Other&, const Other&) = default;
  };
  using Variant =
      std::variant<Other, NumberObject, std::int64_t, double, std::string, std::shared_ptr<const LooseMap>>;

  LooseValue() = default;
  LooseValue(Other o) : value_(o) {}
  LooseValue(NumberObject n) : value_(n) {}
  LooseValue(std::int64_t i) : value_(i) {}
  LooseValue(double d) : value_(d) {}
  LooseValue(std::string s) : value_(std::move(s)) {}
  LooseValue(const char* s) : value_(std::string(s)) {}
  LooseValue(LooseMap m) : value_(std::make_shared<const LooseMap>(std::move(m))) {}

  const Variant& variant() const { return value_; }
  const std::string* asString() const { return std::get_if<std::string>(&value_); }
  // The nested map, or nullptr when this value is not a string-keyed map.
  const LooseMap* asMap() const {
    auto* p = std::get_if<std::shared_ptr<const LooseMap>>(&value_);
    return p ? p->get() : nullptr;
  }

 private:
  Variant value_;
};

// The entry under `key`, or nullptr when it is absent.
inline const LooseValue* lookup(const LooseMap& map, std::string_view key) {
  auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}

// Window-record keys, spelled as the platform spells them.
inline constexpr std::string_view kCGWindowNumber = "kCGWindowNumber";
inline constexpr std::string_view kCGWindowOwnerPID = "kCGWindowOwnerPID";
inline constexpr std::string_view kCGWindowOwnerName = "kCGWindowOwnerName";
inline constexpr std::string_view kCGWindowName = "kCGWindowName";
inline constexpr std::string_view kCGWindowLayer = "kCGWindowLayer";
inline constexpr std::string_view kCGWindowAlpha = "kCGWindowAlpha";
inline constexpr std::string_view kCGWindowBounds = "kCGWindowBounds";

}  // namespace halvic
