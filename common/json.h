// The result value that every run builds once, and its compact JSON writer.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace halvic {

class JsonValue;

// A string-keyed map that keeps its keys in insertion order, so the printed
// text follows the order in which a run built its result.
class JsonObject {
 public:
  using Member = std::pair<std::string, JsonValue>;

  JsonObject() = default;
  JsonObject(std::initializer_list<Member> members);

  // Adds `key`, or replaces its value in place when it is already present.
  JsonObject& set(std::string key, JsonValue value);
  const JsonValue* find(std::string_view key) const;

  const std::vector<Member>& members() const { return members_; }
  std::size_t size() const;
  bool empty() const;

  // Defined below, where JsonValue is complete.
  friend bool operator==(const JsonObject& a, const JsonObject& b);

 private:
  std::vector<Member> members_;
};

using JsonArray = std::vector<JsonValue>;

// One of the kinds a result may hold: boolean, string, signed 64-bit integer,
// double, nested object, array.
class JsonValue {
 public:
  using Variant = std::variant<bool, std::string, std::int64_t, double, JsonObject, JsonArray>;

  JsonValue(bool b) : value_(b) {}
  JsonValue(std::string s) : value_(std::move(s)) {}
  JsonValue(std::string_view s) : value_(std::string(s)) {}
  JsonValue(const char* s) : value_(std::string(s)) {}
  JsonValue(std::int64_t i) : value_(i) {}
  JsonValue(int i) : value_(std::int64_t{i}) {}
  JsonValue(double d) : value_(d) {}
  JsonValue(JsonObject o) : value_(std::move(o)) {}
  JsonValue(JsonArray a) : value_(std::move(a)) {}

  const Variant& variant() const { return value_; }

  template <typename T>
  const T* as() const { return std::get_if<T>(&value_); }

  friend bool operator==(const JsonValue&, const JsonValue&) = default;

 private:
  Variant value_;
};

// JsonObject's inline members, where JsonValue is complete.
inline std::size_t JsonObject::size() const { return members_.size(); }
inline bool JsonObject::empty() const { return members_.empty(); }
inline bool operator==(const JsonObject& a, const JsonObject& b) { return a.members_ == b.members_; }

// The exact text the host receives when a result cannot be written as JSON.
inline constexpr std::string_view kFallbackJson = R"({"ok":false,"error":"json_encode_failed"})";

// Compact JSON text of `value`; nullopt when the value has no JSON form
// (a non-finite double, or a string or key that is not valid UTF-8).
std::optional<std::string> serializeJson(const JsonValue& value);

// serializeJson, or the fallback text when it fails.
std::string jsonTextOrFallback(const JsonValue& value);

}  // namespace halvic
