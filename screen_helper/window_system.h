// Which Linux window system the screen tool talks to, decided once per run.
#pragma once

#include <string_view>

namespace halvic {

enum class WindowSystem {
  sway,                   // a compositor that answers sway's IPC
  kwin,                   // KWin serves the Wayland display (kwin/)
  x11,                    // an X server, its stacking order included
  x11FocusedWindowOnly,   // Xwayland in a Wayland session sway's IPC does not serve
};

// A Wayland session: WAYLAND_DISPLAY is set, or XDG_SESSION_TYPE says so.
// Either value may be null (unset).
bool isWaylandSession(const char* waylandDisplay, const char* sessionType);

// A compositor that answers on its IPC socket decides; then KWin, when it
// serves the Wayland session's display (asked only in a Wayland session);
// otherwise the X server, which in a Wayland session only knows its own few
// clients and may report nothing but the one it says has the focus.
WindowSystem chooseWindowSystem(bool compositorAnswers, bool waylandSession, bool kwinServesDisplay = false);

}  // namespace halvic
