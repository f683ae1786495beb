// Reading where a window is from the compositor's replies: the container's
// content area from get_tree, the outputs from get_outputs.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "capture_plan.h"
#include "sway_tree.h"

namespace halvic::capture {

// The content area of window `id`, or why it cannot be captured: no such
// container, a container that is no window (a workspace, a split), or a
// window not on screen (on a workspace no output shows, in the scratchpad),
// where a capture would show whatever covers its place instead.
std::variant<sway::LogicalRect, std::string> visibleContentArea(const nlohmann::json& tree, std::int64_t id);

// The outputs that show something (active, with a mode), as placed in the
// global logical space; entries that are malformed are left out.
std::vector<OutputPlace> activeOutputs(const nlohmann::json& outputs);

}  // namespace halvic::capture
