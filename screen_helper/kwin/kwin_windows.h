// The screen tool's view of the window list our KWin script reports
// (window_list.js): the windows as KWin describes them, the window records and
// the focused application as the logic reads them on every platform, and the
// window number. No I/O here, so tests drive it with captured reports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "desktop.h"
#include "loose_value.h"

namespace halvic::kwin {

struct Area {
  double x = 0, y = 0, width = 0, height = 0;
};

// One window as the script reports it. Absent or mistyped values read as the
// defaults.
struct Window {
  std::string uuid;               // KWin's handle, "{8-4-4-4-12}"
  std::optional<std::int64_t> pid;
  std::string caption;
  std::string resourceClass;
  std::string desktopFileName;
  std::optional<Area> area;       // the client area, logical coordinates
  std::string kind = "normal";    // KWin's window type (window_list.js)
  double opacity = 1.0;
  bool minimized = false;
  bool hidden = false;
  bool onCurrentDesktop = false;  // and on the current activity
};

struct WindowList {
  std::vector<Window> windows;  // frontmost first
  std::string activeUuid;       // empty when no window has the focus
};

// The script's report, or nullopt when the text is not one.
std::optional<WindowList> parseWindowList(std::string_view report);

// Whether the user can see the window now: not minimized, not hidden, on the
// current desktop and activity. KWin never answers a capture of any other, so
// neither program asks for one.
bool onScreen(const Window& window);

// The window number the screen tool reports for the window KWin calls `uuid`:
// the 32-bit FNV-1a hash of the uuid's text, 0 taken as 1. The screenshot
// program lists the windows again and captures the one window whose uuid has
// this number; with none or more than one, it refuses.
std::uint32_t windowNumber(std::string_view uuid);

// One window record per window on screen, frontmost first. Number =
// windowNumber(uuid), owner pid = pid, owner name = the desktop file name, or
// the resource class when there is none; title = caption; bounds = the client
// area; alpha = opacity; layer 0 for ordinary windows (dialogs and utility
// windows included), the matching non-zero layer for desktops, docks, menus,
// notifications and the other special windows.
std::vector<LooseValue> windowRecords(const WindowList& list);

// The focused window's process and owner name, or nullopt when no window has
// the focus. A pid KWin does not give reads -1, which matches no window.
std::optional<FrontmostApplication> focusedApplication(const WindowList& list);

}  // namespace halvic::kwin
