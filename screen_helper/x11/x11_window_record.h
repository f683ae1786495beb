// What the X11 backend learns about one window, and the window record the
// screen tool's logic reads, with the keys and meanings of the macOS list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "loose_value.h"
#include "window_layers.h"

namespace halvic::x11 {

class Connection;

struct WindowFacts {
  std::uint32_t window = 0;
  std::optional<std::int32_t> ownerPid;
  std::optional<std::string> ownerName;  // WM_CLASS class
  std::optional<std::string> title;
  std::int64_t layer = 0;
  double alpha = 1.0;
  // The client area in root coordinates, without frame and border: exactly
  // what the screenshot program captures for this window number.
  std::int32_t x = 0, y = 0;
  std::uint32_t width = 0, height = 0;
};

// The layer of a window from its _NET_WM_WINDOW_TYPE list (the first type the
// backend knows decides, as EWMH orders them by preference). A window without
// a known type is ordinary, unless it bypasses the window manager
// (override-redirect), as menus and tooltips of non-EWMH clients do.
std::int64_t layerOf(const Connection& connection, const std::vector<std::uint32_t>& types, bool overrideRedirect);

// `_NET_WM_WINDOW_OPACITY` (0 .. 0xFFFFFFFF) as 0.0 .. 1.0; 1.0 when absent.
double alphaOf(std::optional<std::uint32_t> opacity);

// The window record. Numbers are NumberObjects, as the platform gives them;
// owner pid, owner name and title are left out when the window does not tell.
LooseMap windowRecord(const WindowFacts& facts);

}  // namespace halvic::x11
