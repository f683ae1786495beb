#include "json.h"

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

bool isValidUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    int extra;
    unsigned char lo = 0x80, hi = 0xBF;  // bounds of the first continuation byte
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      if (c == 0xE0) lo = 0xA0;  // overlong
      if (c == 0xED) hi = 0x9F;  // UTF-16 surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      if (c == 0xF0) lo = 0x90;  // overlong
      if (c == 0xF4) hi = 0x8F;  // past U+10FFFF
    } else {
      return false;
    }
    if (end - p <= extra) return false;
    if (p[1] < lo || p[1] > hi) return false;
    for (int i = 2; i <= extra; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
    }
    p += extra + 1;
  }
  return true;
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
