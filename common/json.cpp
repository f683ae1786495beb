#include "json.h"

#include "utf8.h"

#include <charconv>
#include <cmath>
#include <type_traits>

namespace halvic {

JsonObject::JsonObject(std::initializer_list<Member> members) {
  for (const auto& [key, value] : members) set(key, value);
}

JsonObject& JsonObject::set(std::string key, JsonValue value) {
  for (auto& member : members_) {
    if (member.first == key) {
      member.second = std::move(value);
      return *this;
    }
  }
  members_.emplace_back(std::move(key), std::move(value));
  return *this;
}

const JsonValue* JsonObject::find(std::string_view key) const {
  for (const auto& member : members_) {
    if (member.first == key) return &member.second;
  }
  return nullptr;
}

namespace {

bool appendString(std::string& out, std::string_view s) {
  if (!isValidUtf8(s)) return false;
  out.push_back('"');
  for (char ch : s) {
    switch (ch) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '/': out += "\\/"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(ch) < 0x20) {
          static constexpr char kHex[] = "0123456789abcdef";
          out += "\\u00";
          out.push_back(kHex[(ch >> 4) & 0xF]);
          out.push_back(kHex[ch & 0xF]);
        } else {
          out.push_back(ch);  // non-ASCII stays raw UTF-8
        }
    }
  }
  out.push_back('"');
  return true;
}

template <typename Number>
void appendNumber(std::string& out, Number n) {
  // Shortest text that reads back as the same value.
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
  out.append(buf, end);
}

bool appendValue(std::string& out, const JsonValue& value) {
  return std::visit(
      [&out](const auto& v) -> bool {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, bool>) {
          out += v ? "true" : "false";
        } else if constexpr (std::is_same_v<T, std::string>) {
          return appendString(out, v);
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          appendNumber(out, v);
        } else if constexpr (std::is_same_v<T, double>) {
          if (!std::isfinite(v)) return false;
          appendNumber(out, v);
        } else if constexpr (std::is_same_v<T, JsonObject>) {
          out.push_back('{');
          bool first = true;
          for (const auto& [key, member] : v.members()) {
            if (!first) out.push_back(',');
            first = false;
            if (!appendString(out, key)) return false;
            out.push_back(':');
            if (!appendValue(out, member)) return false;
          }
          out.push_back('}');
        } else {
          static_assert(std::is_same_v<T, JsonArray>);
          out.push_back('[');
          bool first = true;
          for (const auto& element : v) {
            if (!first) out.push_back(',');
            first = false;
            if (!appendValue(out, element)) return false;
          }
          out.push_back(']');
        }
        return true;
      },
      value.variant());
}

}  // namespace

std::optional<std::string> serializeJson(const JsonValue& value) {
  std::string out;
  if (!appendValue(out, value)) return std::nullopt;
  return out;
}

std::string jsonTextOrFallback(const JsonValue& value) {
  if (auto text = serializeJson(value)) return std::move(*text);
  return std::string(kFallbackJson);
}

}  // namespace halvic
