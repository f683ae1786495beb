// Reading members of JSON objects that desktops hand over (sway's layout tree,
// our GNOME Shell extension's and KWin script's window lists): a member that is
// missing or of another type reads as absent, never as an error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace halvic::json_members {

using nlohmann::json;

inline const json* memberOf(const json& node, std::string_view key) {
  if (!node.is_object()) return nullptr;
  const auto it = node.find(key);
  return it == node.end() ? nullptr : &*it;
}

inline const std::string* textAt(const json& node, std::string_view key) {
  const json* value = memberOf(node, key);
  return value && value->is_string() ? value->get_ptr<const std::string*>() : nullptr;
}

inline std::optional<std::int64_t> integerAt(const json& node, std::string_view key) {
  const json* value = memberOf(node, key);
  if (value == nullptr || !value->is_number_integer()) return std::nullopt;
  return value->get<std::int64_t>();
}

inline std::optional<double> numberAt(const json& node, std::string_view key) {
  const json* value = memberOf(node, key);
  if (value == nullptr || !value->is_number()) return std::nullopt;
  return value->get<double>();
}

// True only for a boolean true.
inline bool flagAt(const json& node, std::string_view key) {
  const json* value = memberOf(node, key);
  return value != nullptr && value->is_boolean() && value->get<bool>();
}

}  // namespace halvic::json_members
