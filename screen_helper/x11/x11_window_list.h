// The windows now on screen, front to back, as the X11 backend reports them.
#pragma once

#include <xcb/xcb.h>

#include <optional>
#include <vector>

#include "x11_window_record.h"

namespace halvic::x11 {

class Connection;

// Client windows from front to back: the window manager's stacking list
// (_NET_CLIENT_LIST_STACKING, kept bottom to top) reversed, or, without an
// EWMH stacking list, the root's children reversed (each replaced by the
// client inside it when a non-EWMH manager framed it). nullopt when the
// server cannot be asked.
std::optional<std::vector<xcb_window_t>> windowsFrontToBack(const Connection& connection);

// The facts of each window in `windows` that is viewable, on the current
// desktop and not hidden, in the same order. Windows that vanish while they
// are read are left out.
std::vector<WindowFacts> onScreenWindows(const Connection& connection, const std::vector<xcb_window_t>& windows);

// The owner of `window`: its pid (_NET_WM_PID, else the X-Resource
// extension) and its WM_CLASS class. nullopt when the window is gone.
struct WindowOwner {
  std::optional<std::int32_t> pid;
  std::optional<std::string> name;
};
std::optional<WindowOwner> ownerOf(const Connection& connection, xcb_window_t window);

// The client window that has the focus: _NET_ACTIVE_WINDOW, or without an
// EWMH window manager the top-level window holding the input focus.
std::optional<xcb_window_t> activeWindow(const Connection& connection);

}  // namespace halvic::x11
