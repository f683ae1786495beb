// Reading the compositor's layout tree (the reply to a get_tree request): the
// parts the screen tool and the screenshot program must agree on.
#pragma once

#include <cstdint>
#include <optional>

#include <nlohmann/json.hpp>

namespace halvic::sway {

// A rectangle in the compositor's global logical coordinates (before any
// output's scale).
struct LogicalRect {
  std::int64_t x = 0;
  std::int64_t y = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;
};

// The rectangle under `key` of a node or output (`rect`, `window_rect`, ...);
// nullopt when it is missing or not four integers.
std::optional<LogicalRect> rectAt(const nlohmann::json& object, const char* key);

// The node with container id `id`, tiled or floating, anywhere below `tree`;
// nullptr when there is none.
const nlohmann::json* findNode(const nlohmann::json& tree, std::int64_t id);

// A window's content area: its container's `rect` moved by its `window_rect`,
// with the window_rect's size, so borders and title bar are left out.
// nullopt when either is missing or malformed, or the area is empty.
std::optional<LogicalRect> contentArea(const nlohmann::json& node);

}  // namespace halvic::sway
