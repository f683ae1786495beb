// Which Linux window system the screen tool talks to, decided once per run.
#pragma once

#include <string_view>

namespace halvic {

enum class WindowSystem {
  sway,                   // a compositor that answers sway's IPC
  kwin,                   // KWin serves the Wayland display (kwin/)
  gnome,                  // a GNOME Shell whose extension (ours) serves this program
  gnomeWithoutExtension,  // a GNOME Shell without it: Xwayland's focused window, and how to enable it
  x11,                    // an X server, its stacking order included
  x11FocusedWindowOnly,   // Xwayland in a Wayland session no backend of ours serves
};

// What a GNOME Shell on the session bus said when asked whether our extension
// serves this program; `absent` when it was not asked or is not there.
enum class GnomeShellProbe { absent, extensionAnswers, extensionMissing, silent };

// What a run learnt of its session before choosing.
struct SessionProbes {
  bool swayAnswers = false;     // a compositor answered on SWAYSOCK
  bool waylandSession = false;  // isWaylandSession()
  bool kwinServesDisplay = false;
  GnomeShellProbe gnomeShell = GnomeShellProbe::absent;
};

// A Wayland session: WAYLAND_DISPLAY is set, or XDG_SESSION_TYPE says so.
// Either value may be null (unset).
bool isWaylandSession(const char* waylandDisplay, const char* sessionType);

// A compositor that answers on its IPC socket decides; then, in a Wayland
// session, KWin when it serves the display, then a GNOME Shell (a frozen one
// too: its requests are bounded and it is not asked again); otherwise the X
// server, which in a Wayland session only knows its own few clients and may
// report nothing but the one it says has the focus.
WindowSystem chooseWindowSystem(const SessionProbes& probes);

}  // namespace halvic
