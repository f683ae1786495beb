// The screen tool's view of the window list that our GNOME Shell extension gives (GetWindows, a JSON array of the
// Shell's windows, front to back): the window records and the focused application, as the logic reads them on every
// platform, and the area of a window that the records name and the screenshot program captures. No I/O here, so
// fixtures of real replies drive it in tests.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "desktop.h"
#include "loose_value.h"

namespace halvic::gnome {

// A rectangle in the Shell's logical coordinates (the stage's).
struct LogicalRect {
  std::int64_t x = 0, y = 0, width = 0, height = 0;
  friend bool operator==(const LogicalRect&, const LogicalRect&) = default;
};

// The window's own area: a Wayland window's frame (its header bar and rounded corners are its own, its client-side
// shadow is not); for an X11 window the part of its frame that is client area, which leaves out the title bar and
// border the Shell draws around it, and the invisible shadow margin a client-decorated one has. nullopt when the
// entry does not give both rectangles.
std::optional<LogicalRect> ownArea(const nlohmann::json& window);

// ownArea() with its origin at the window's frame origin: what the extension's capture takes, so that a window moved
// since it was listed is still captured whole.
std::optional<LogicalRect> ownAreaInFrame(const nlohmann::json& window);

// The entry of window `id` in the list, or null.
const nlohmann::json* findWindow(const nlohmann::json& windows, std::uint64_t id);

// One window record per window the user can see now: on the active workspace (or on all of them), neither minimized
// nor hidden; front to back as listed. Number = the Shell's window id, owner pid = pid (when known), owner name = the
// application's id (GTK's) or else the WM class, title, bounds = ownArea(), alpha = the window's opacity, layer 0 for
// ordinary application windows and dialogs, the matching non-zero layer for docks, menus, tooltips, notifications,
// the desktop and override-redirect windows. A key is left out when the entry does not tell.
std::vector<LooseValue> windowRecords(const nlohmann::json& windows);

// The focused window's process and owner name; nullopt when no window has the focus. A pid the Shell does not know
// reads -1, so that it matches no listed window.
std::optional<FrontmostApplication> focusedApplication(const nlohmann::json& windows);

}  // namespace halvic::gnome
