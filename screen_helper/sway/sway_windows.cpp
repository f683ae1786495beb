#include "sway_windows.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

#include "json_members.h"
#include "sway_tree.h"
#include "window_layers.h"
#include "window_record.h"

namespace halvic::sway {
namespace {

using nlohmann::json;
using namespace json_members;

// Deeper trees than this are not layouts a compositor makes; the walk stops
// there instead of exhausting the stack.
constexpr int kDeepestNesting = 256;

bool isType(const json& node, std::string_view type) {
  const std::string* t = textAt(node, "type");
  return t != nullptr && *t == type;
}

struct Child {
  const json* node;
  bool floating;  // held in its parent's floating_nodes
};

// `node`'s tiled and floating children, those its focus list names first, in
// that order (most recently focused first), then the rest in tree order.
std::vector<Child> childrenByFocus(const json& node) {
  std::vector<Child> children;
  for (const auto& [key, floating] : {std::pair{"nodes", false}, std::pair{"floating_nodes", true}}) {
    const json* list = memberOf(node, key);
    if (list == nullptr || !list->is_array()) continue;
    for (const json& child : *list) {
      if (child.is_object()) children.push_back({&child, floating});
    }
  }
  std::vector<std::int64_t> focus;
  if (const json* list = memberOf(node, "focus"); list != nullptr && list->is_array()) {
    for (const json& id : *list) {
      if (id.is_number_integer()) focus.push_back(id.get<std::int64_t>());
    }
  }
  auto rank = [&focus](const Child& child) {
    const auto id = integerAt(*child.node, "id");
    const auto at = id ? std::find(focus.begin(), focus.end(), *id) : focus.end();
    return static_cast<std::size_t>(at - focus.begin());
  };
  std::stable_sort(children.begin(), children.end(),
                   [&rank](const Child& a, const Child& b) { return rank(a) < rank(b); });
  return children;
}

bool isView(const json& node) {
  if (!isType(node, "con") && !isType(node, "floating_con")) return false;
  for (const char* key : {"nodes", "floating_nodes"}) {
    const json* list = memberOf(node, key);
    if (list != nullptr && list->is_array() && !list->empty()) return false;
  }
  return true;
}

struct View {
  const json* node;
  bool floating;
};

// The views below `node` in focus order (most recently focused first).
void collectViews(const json& node, bool floating, int depth, std::vector<View>& views) {
  if (depth > kDeepestNesting) return;
  if (isView(node)) {
    views.push_back({&node, floating});
    return;
  }
  for (const Child& child : childrenByFocus(node)) {
    collectViews(*child.node, floating || child.floating, depth + 1, views);
  }
}

// The workspace an output shows: the one its current_workspace names, else
// the one it focused last.
const json* visibleWorkspace(const json& output) {
  const std::string* current = textAt(output, "current_workspace");
  const std::vector<Child> workspaces = childrenByFocus(output);
  for (const Child& child : workspaces) {
    const std::string* name = textAt(*child.node, "name");
    if (isType(*child.node, "workspace") && (current == nullptr || (name && *name == *current))) {
      return child.node;
    }
  }
  return nullptr;
}

bool isScratchpad(const json& output) {
  const std::string* name = textAt(output, "name");
  return name != nullptr && name->starts_with("__");
}

bool hiddenByCompositor(const json& view) {
  const json* visible = memberOf(view, "visible");
  return visible != nullptr && visible->is_boolean() && !visible->get<bool>();
}

bool fullscreen(const json& view) {
  const auto mode = integerAt(view, "fullscreen_mode");
  return mode && *mode != 0;
}

const std::string* xwaylandClass(const json& view) {
  const json* properties = memberOf(view, "window_properties");
  return properties ? textAt(*properties, "class") : nullptr;
}

const std::string* ownerName(const json& view) {
  if (const std::string* appId = textAt(view, "app_id")) return appId;
  return xwaylandClass(view);
}

// Only an Xwayland window says what kind of window it is (_NET_WM_WINDOW_TYPE
// as sway names it); every Wayland toplevel is an ordinary window.
std::int64_t layerOf(const json& view) {
  const json* properties = memberOf(view, "window_properties");
  const std::string* type = properties ? textAt(*properties, "window_type") : nullptr;
  if (type == nullptr) return kNormalLayer;
  static const std::pair<std::string_view, std::int64_t> kLayers[] = {
      {"desktop", kDesktopLayer},          {"dock", kDockLayer},
      {"toolbar", kTornOffMenuLayer},      {"menu", kTornOffMenuLayer},
      {"notification", kStatusLayer},      {"dropdown_menu", kPopUpMenuLayer},
      {"popup_menu", kPopUpMenuLayer},     {"combo", kPopUpMenuLayer},
      {"splash", kOverlayLayer},           {"tooltip", kHelpLayer},
      {"dnd", kDraggingLayer},
  };
  for (const auto& [name, layer] : kLayers) {
    if (*type == name) return layer;
  }
  return kNormalLayer;  // normal, dialog, utility, unknown
}

LooseMap windowRecord(const json& view) {
  LooseMap record{
      {std::string(kCGWindowLayer), NumberObject::fromInteger(layerOf(view))},
  };
  const json* opacity = memberOf(view, "opacity");
  const double alpha = opacity && opacity->is_number() ? opacity->get<double>() : 1.0;
  record.emplace(kCGWindowAlpha, NumberObject::fromDouble(alpha));
  if (const auto id = integerAt(view, "id")) record.emplace(kCGWindowNumber, NumberObject::fromInteger(*id));
  if (const auto pid = integerAt(view, "pid")) record.emplace(kCGWindowOwnerPID, NumberObject::fromInteger(*pid));
  if (const std::string* owner = ownerName(view)) record.emplace(kCGWindowOwnerName, *owner);
  if (const std::string* title = textAt(view, "name")) record.emplace(kCGWindowName, *title);
  if (const auto area = contentArea(view)) {
    record.emplace(kCGWindowBounds, boundsRecord(area->x, area->y, area->width, area->height));
  }
  return record;
}

const json* focusedNode(const json& tree) {
  std::vector<std::pair<const json*, int>> pending{{&tree, 0}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    const json* focused = memberOf(*node, "focused");
    if (focused != nullptr && focused->is_boolean() && focused->get<bool>()) return node;
    if (depth >= kDeepestNesting) continue;
    for (const Child& child : childrenByFocus(*node)) pending.push_back({child.node, depth + 1});
  }
  return nullptr;
}

}  // namespace

std::vector<LooseValue> windowRecords(const json& tree) {
  std::vector<LooseValue> records;
  for (const Child& output : childrenByFocus(tree)) {
    if (!isType(*output.node, "output") || isScratchpad(*output.node)) continue;
    const json* workspace = visibleWorkspace(*output.node);
    if (workspace == nullptr) continue;
    std::vector<View> views;
    collectViews(*workspace, false, 0, views);
    // Fullscreen, then floating, then tiled; focus order within each.
    std::stable_sort(views.begin(), views.end(), [](const View& a, const View& b) {
      auto standing = [](const View& v) { return fullscreen(*v.node) ? 0 : v.floating ? 1 : 2; };
      return standing(a) < standing(b);
    });
    for (const View& view : views) {
      if (!hiddenByCompositor(*view.node)) records.emplace_back(windowRecord(*view.node));
    }
  }
  return records;
}

std::optional<FrontmostApplication> focusedApplication(const json& tree) {
  const json* node = focusedNode(tree);
  if (node == nullptr) return std::nullopt;
  if (!isView(*node)) {
    if (!isType(*node, "workspace") && !isType(*node, "con") && !isType(*node, "floating_con")) {
      return std::nullopt;
    }
    std::vector<View> views;
    collectViews(*node, false, 0, views);
    if (views.empty()) return std::nullopt;
    node = views.front().node;
  }
  FrontmostApplication application;
  const auto pid = integerAt(*node, "pid");
  application.processIdentifier =
      pid && *pid > 0 && *pid <= std::numeric_limits<std::int32_t>::max() ? static_cast<std::int32_t>(*pid) : -1;
  if (const std::string* owner = ownerName(*node)) application.localizedName = *owner;
  return application;
}

}  // namespace halvic::sway
