#include "container_place.h"

#include <algorithm>
#include <string_view>

namespace halvic::capture {
namespace {

// sway's names for wl_output.transform values 0 to 7, in that order.
const std::string_view kTransforms[] = {"normal",  "90",         "180",         "270",
                                        "flipped", "flipped-90", "flipped-180", "flipped-270"};

}  // namespace

std::variant<sway::LogicalRect, std::string> visibleContentArea(const nlohmann::json& tree, std::int64_t id) {
  const std::string window = "window " + std::to_string(id);
  const nlohmann::json* node = sway::findNode(tree, id);
  if (node == nullptr) return "no " + window;
  // Only views have a process; workspaces and split containers do not.
  const auto pid = node->find("pid");
  const auto area = sway::contentArea(*node);
  if (pid == node->end() || !area) return "container " + std::to_string(id) + " is not a window";
  const auto visible = node->find("visible");
  if (visible == node->end() || !visible->is_boolean() || !visible->get<bool>()) return window + " is not on screen";
  return *area;
}

std::vector<OutputPlace> activeOutputs(const nlohmann::json& outputs) {
  std::vector<OutputPlace> places;
  if (!outputs.is_array()) return places;
  for (const auto& output : outputs) {
    if (!output.is_object()) continue;
    const auto active = output.find("active");
    const auto name = output.find("name");
    const auto scale = output.find("scale");
    if (active == output.end() || !active->is_boolean() || !active->get<bool>()) continue;
    if (name == output.end() || !name->is_string() || scale == output.end() || !scale->is_number()) continue;
    const auto rect = sway::rectAt(output, "rect");
    if (!rect || rect->width <= 0 || rect->height <= 0) continue;
    const auto named = output.find("transform");
    const std::string turn = named == output.end() ? "normal" : named->is_string() ? named->get<std::string>() : "";
    const auto transform = std::find(std::begin(kTransforms), std::end(kTransforms), turn);
    if (transform == std::end(kTransforms)) continue;
    places.push_back(
        {name->get<std::string>(), *rect, scale->get<double>(), static_cast<int>(transform - std::begin(kTransforms))});
  }
  return places;
}

}  // namespace halvic::capture
