// The X11 desktop backend (an X server with an EWMH window manager).
#pragma once

#include <memory>

#include "desktop.h"

namespace halvic {

enum class X11WindowScope {
  // Every on-screen window, in the window manager's stacking order.
  stackingOrder,
  // Only the window the X server says has the focus. In a Wayland session the
  // X server (Xwayland) sees a few clients and its stacking order says nothing
  // about what the user sees, so nothing else may stand in for that window.
  focusedWindowOnly,
};

std::unique_ptr<Desktop> makeX11Desktop(X11WindowScope scope);

}  // namespace halvic
