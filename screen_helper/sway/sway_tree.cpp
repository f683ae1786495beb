#include "sway_tree.h"

#include <array>
#include <vector>

namespace halvic::sway {
namespace {

std::optional<std::int64_t> integerAt(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_number_integer()) return std::nullopt;
  return it->get<std::int64_t>();
}

}  // namespace

std::optional<LogicalRect> rectAt(const nlohmann::json& node, const char* key) {
  const auto it = node.find(key);
  if (it == node.end() || !it->is_object()) return std::nullopt;
  const auto x = integerAt(*it, "x");
  const auto y = integerAt(*it, "y");
  const auto width = integerAt(*it, "width");
  const auto height = integerAt(*it, "height");
  if (!x || !y || !width || !height) return std::nullopt;
  return LogicalRect{*x, *y, *width, *height};
}

const nlohmann::json* findNode(const nlohmann::json& tree, std::int64_t id) {
  // Depth-first with an explicit stack: a hostile tree may nest deeper than
  // the call stack would allow.
  std::vector<const nlohmann::json*> pending{&tree};
  while (!pending.empty()) {
    const nlohmann::json* node = pending.back();
    pending.pop_back();
    if (!node->is_object()) continue;
    if (integerAt(*node, "id") == id) return node;
    for (const char* children : std::array{"nodes", "floating_nodes"}) {
      const auto it = node->find(children);
      if (it == node->end() || !it->is_array()) continue;
      for (const auto& child : *it) pending.push_back(&child);
    }
  }
  return nullptr;
}

std::optional<LogicalRect> contentArea(const nlohmann::json& node) {
  const auto outer = rectAt(node, "rect");
  const auto inner = rectAt(node, "window_rect");
  if (!outer || !inner || inner->width <= 0 || inner->height <= 0) return std::nullopt;
  return LogicalRect{outer->x + inner->x, outer->y + inner->y, inner->width, inner->height};
}

}  // namespace halvic::sway
