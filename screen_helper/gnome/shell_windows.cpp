#include "shell_windows.h"

#include <algorithm>
#include <limits>
#include <string>
#include <string_view>

#include "json_members.h"
#include "window_layers.h"
#include "window_record.h"

namespace halvic::gnome {
namespace {

using nlohmann::json;
using namespace json_members;

// A window id: a non-negative integer (the Shell's ids are 64-bit).
std::optional<std::uint64_t> idOf(const json& window) {
  const json* value = memberOf(window, "id");
  if (value == nullptr || !value->is_number_integer()) return std::nullopt;
  if (value->is_number_unsigned()) return value->get<std::uint64_t>();
  const auto id = value->get<std::int64_t>();
  return id >= 0 ? std::optional<std::uint64_t>(static_cast<std::uint64_t>(id)) : std::nullopt;
}

std::optional<LogicalRect> rectAt(const json& window, std::string_view key) {
  const json* value = memberOf(window, key);
  if (value == nullptr || !value->is_array() || value->size() != 4) return std::nullopt;
  for (const json& n : *value) {
    if (!n.is_number_integer()) return std::nullopt;
  }
  return LogicalRect{(*value)[0].get<std::int64_t>(), (*value)[1].get<std::int64_t>(),
                     (*value)[2].get<std::int64_t>(), (*value)[3].get<std::int64_t>()};
}

LogicalRect intersection(const LogicalRect& a, const LogicalRect& b) {
  const std::int64_t left = std::max(a.x, b.x), top = std::max(a.y, b.y);
  const std::int64_t right = std::min(a.x + a.width, b.x + b.width), bottom = std::min(a.y + a.height, b.y + b.height);
  return {left, top, std::max<std::int64_t>(right - left, 0), std::max<std::int64_t>(bottom - top, 0)};
}

// Meta.WindowType, whose numbering mutter has kept since its start.
std::int64_t layerOf(const json& window) {
  static constexpr std::int64_t kLayers[] = {
      kNormalLayer,       // NORMAL
      kDesktopLayer,      // DESKTOP
      kDockLayer,         // DOCK
      kNormalLayer,       // DIALOG
      kNormalLayer,       // MODAL_DIALOG
      kTornOffMenuLayer,  // TOOLBAR
      kTornOffMenuLayer,  // MENU
      kNormalLayer,       // UTILITY
      kOverlayLayer,      // SPLASHSCREEN
      kPopUpMenuLayer,    // DROPDOWN_MENU
      kPopUpMenuLayer,    // POPUP_MENU
      kHelpLayer,         // TOOLTIP
      kStatusLayer,       // NOTIFICATION
      kPopUpMenuLayer,    // COMBO
      kDraggingLayer,     // DND
      kPopUpMenuLayer,    // OVERRIDE_OTHER
  };
  const auto type = integerAt(window, "type").value_or(0);
  const std::int64_t layer = type >= 0 && type < std::ssize(kLayers) ? kLayers[type] : kNormalLayer;
  // A window the window manager does not manage is never an application's window.
  return layer == kNormalLayer && flagAt(window, "override_redirect") ? kPopUpMenuLayer : layer;
}

const std::string* ownerName(const json& window) {
  const std::string* appId = textAt(window, "app_id");
  return appId && !appId->empty() ? appId : textAt(window, "wm_class");
}

bool visible(const json& window) {
  return flagAt(window, "on_workspace") && !flagAt(window, "minimized") && !flagAt(window, "hidden");
}

LooseMap windowRecord(const json& window) {
  LooseMap record{{std::string(kCGWindowLayer), NumberObject::fromInteger(layerOf(window))}};
  const json* opacity = memberOf(window, "opacity");
  record.emplace(kCGWindowAlpha, NumberObject::fromDouble(opacity && opacity->is_number()
                                                              ? opacity->get<double>() / 255.0
                                                              : 1.0));
  if (const auto id = idOf(window); id && *id <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
    record.emplace(kCGWindowNumber, NumberObject::fromInteger(static_cast<std::int64_t>(*id)));
  if (const auto pid = integerAt(window, "pid"); pid && *pid > 0)
    record.emplace(kCGWindowOwnerPID, NumberObject::fromInteger(*pid));
  if (const std::string* owner = ownerName(window)) record.emplace(kCGWindowOwnerName, *owner);
  if (const std::string* title = textAt(window, "title")) record.emplace(kCGWindowName, *title);
  if (const auto area = ownArea(window)) {
    record.emplace(kCGWindowBounds, boundsRecord(area->x, area->y, area->width, area->height));
  }
  return record;
}

}  // namespace

std::optional<LogicalRect> ownArea(const json& window) {
  const auto frame = rectAt(window, "frame");
  if (!frame || !flagAt(window, "x11")) return frame;
  const auto client = rectAt(window, "client");
  if (!client) return std::nullopt;
  return intersection(*frame, *client);
}

std::optional<LogicalRect> ownAreaInFrame(const json& window) {
  auto area = ownArea(window);
  const auto frame = rectAt(window, "frame");
  if (!area || !frame) return std::nullopt;
  area->x -= frame->x;
  area->y -= frame->y;
  return area;
}

const json* findWindow(const json& windows, std::uint64_t id) {
  if (!windows.is_array()) return nullptr;
  for (const json& window : windows) {
    if (idOf(window) == id) return &window;
  }
  return nullptr;
}

std::vector<LooseValue> windowRecords(const json& windows) {
  std::vector<LooseValue> records;
  if (!windows.is_array()) return records;
  for (const json& window : windows) {
    if (window.is_object() && visible(window)) records.emplace_back(windowRecord(window));
  }
  return records;
}

std::optional<FrontmostApplication> focusedApplication(const json& windows) {
  if (!windows.is_array()) return std::nullopt;
  const auto focused = std::find_if(windows.begin(), windows.end(), [](const json& w) { return flagAt(w, "focused"); });
  if (focused == windows.end()) return std::nullopt;
  FrontmostApplication application;
  const auto pid = integerAt(*focused, "pid");
  application.processIdentifier =
      pid && *pid > 0 && *pid <= std::numeric_limits<std::int32_t>::max() ? static_cast<std::int32_t>(*pid) : -1;
  if (const std::string* owner = ownerName(*focused)) application.localizedName = *owner;
  return application;
}

}  // namespace halvic::gnome
