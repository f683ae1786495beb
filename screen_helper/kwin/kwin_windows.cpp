#include "kwin_windows.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include <nlohmann/json.hpp>

#include "json_members.h"
#include "window_layers.h"
#include "window_record.h"

namespace halvic::kwin {
namespace {

using nlohmann::json;
using namespace json_members;

std::string textOrEmpty(const json& node, std::string_view key) {
  const std::string* text = textAt(node, key);
  return text ? *text : std::string();
}

std::optional<Area> areaAt(const json& node, std::string_view key) {
  const json* value = memberOf(node, key);
  if (value == nullptr) return std::nullopt;
  const auto x = numberAt(*value, "x"), y = numberAt(*value, "y");
  const auto width = numberAt(*value, "width"), height = numberAt(*value, "height");
  if (!x || !y || !width || !height) return std::nullopt;
  return Area{*x, *y, *width, *height};
}

Window windowFrom(const json& node) {
  Window window;
  window.uuid = textOrEmpty(node, "id");
  // A pid is a whole number; anything else is no pid.
  if (const auto pid = numberAt(node, "pid"); pid && *pid == static_cast<double>(static_cast<std::int64_t>(*pid)) &&
                                              std::abs(*pid) < 9.0e15) {
    window.pid = static_cast<std::int64_t>(*pid);
  }
  window.caption = textOrEmpty(node, "caption");
  window.resourceClass = textOrEmpty(node, "resourceClass");
  window.desktopFileName = textOrEmpty(node, "desktopFileName");
  window.area = areaAt(node, "area");
  if (std::string kind = textOrEmpty(node, "kind"); !kind.empty()) window.kind = std::move(kind);
  window.opacity = numberAt(node, "opacity").value_or(1.0);
  window.minimized = flagAt(node, "minimized");
  window.hidden = flagAt(node, "hidden");
  window.onCurrentDesktop = flagAt(node, "onCurrentDesktop");
  return window;
}

// KWin's window types mapped onto the layers every backend uses.
std::int64_t layerOf(const std::string& kind) {
  static const std::pair<std::string_view, std::int64_t> kLayers[] = {
      {"desktopWindow", kDesktopLayer},   {"dock", kDockLayer},
      {"toolbar", kTornOffMenuLayer},     {"menu", kTornOffMenuLayer},
      {"notification", kStatusLayer},     {"criticalNotification", kStatusLayer},
      {"onScreenDisplay", kStatusLayer},  {"specialWindow", kStatusLayer},
      {"appletPopup", kPopUpMenuLayer},   {"dropdownMenu", kPopUpMenuLayer},
      {"popupMenu", kPopUpMenuLayer},     {"comboBox", kPopUpMenuLayer},
      {"splash", kOverlayLayer},          {"tooltip", kHelpLayer},
      {"dndIcon", kDraggingLayer},
  };
  for (const auto& [name, layer] : kLayers) {
    if (kind == name) return layer;
  }
  return kNormalLayer;
}

const std::string& ownerName(const Window& window) {
  return window.desktopFileName.empty() ? window.resourceClass : window.desktopFileName;
}

LooseMap windowRecord(const Window& window) {
  LooseMap record{
      {std::string(kCGWindowNumber), NumberObject::fromInteger(windowNumber(window.uuid))},
      {std::string(kCGWindowLayer), NumberObject::fromInteger(layerOf(window.kind))},
      {std::string(kCGWindowAlpha), NumberObject::fromDouble(window.opacity)},
      {std::string(kCGWindowOwnerName), ownerName(window)},
      {std::string(kCGWindowName), window.caption},
  };
  if (window.pid) record.emplace(kCGWindowOwnerPID, NumberObject::fromInteger(*window.pid));
  if (window.area) {
    const Area& area = *window.area;
    record.emplace(kCGWindowBounds, boundsRecord(Rect{area.x, area.y, area.width, area.height}));
  }
  return record;
}

}  // namespace

std::optional<WindowList> parseWindowList(std::string_view report) {
  const json root = json::parse(report, nullptr, /*allow_exceptions=*/false);
  const json* windows = memberOf(root, "windows");
  if (windows == nullptr || !windows->is_array()) return std::nullopt;
  WindowList list;
  list.activeUuid = textOrEmpty(root, "active");
  for (const json& node : *windows) {
    if (node.is_object()) list.windows.push_back(windowFrom(node));
  }
  return list;
}

bool onScreen(const Window& window) { return !window.minimized && !window.hidden && window.onCurrentDesktop; }

std::uint32_t windowNumber(std::string_view uuid) {
  std::uint32_t hash = 2166136261u;
  for (const char c : uuid) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  return hash == 0 ? 1 : hash;
}

std::vector<LooseValue> windowRecords(const WindowList& list) {
  std::vector<LooseValue> records;
  for (const Window& window : list.windows) {
    if (onScreen(window)) records.emplace_back(windowRecord(window));
  }
  return records;
}

std::optional<FrontmostApplication> focusedApplication(const WindowList& list) {
  if (list.activeUuid.empty()) return std::nullopt;
  const auto active = std::find_if(list.windows.begin(), list.windows.end(),
                                   [&list](const Window& w) { return w.uuid == list.activeUuid; });
  if (active == list.windows.end()) return std::nullopt;
  FrontmostApplication application;
  const bool fits = active->pid && *active->pid > 0 && *active->pid <= std::numeric_limits<std::int32_t>::max();
  application.processIdentifier = fits ? static_cast<std::int32_t>(*active->pid) : -1;
  application.localizedName = ownerName(*active);
  return application;
}

}  // namespace halvic::kwin
