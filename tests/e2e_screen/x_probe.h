// The tests' own view of the X server, independent of the backend under test:
// what the window manager reports, and the requests a user's actions would make.
#pragma once

#include <X11/Xlib.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace halvic::e2e {

class XProbe {
 public:
  XProbe();  // connects to $DISPLAY; throws when it cannot
  ~XProbe();
  XProbe(const XProbe&) = delete;
  XProbe& operator=(const XProbe&) = delete;

  Display* display() const { return display_; }

  // Polls `condition` until it holds or five seconds pass.
  bool waitUntil(const std::function<bool()>& condition);

  bool windowManagerRuns();
  std::vector<Window> stackingBottomToTop();
  std::optional<Window> activeWindow();
  bool viewable(Window window);
  // The window's content origin on the root.
  std::pair<int, int> rootOrigin(Window window);

  // Asks the window manager to activate (focus and raise) the window, as a
  // pager would, and waits until it has.
  bool activate(Window window);
  bool iconify(Window window);
  bool moveToDesktop(Window window, long desktop);
  // Without a window manager: gives the window the input focus.
  void focus(Window window);

 private:
  void sendToRoot(Window window, const char* message, long data0, long data1);
  Display* display_;
};

}  // namespace halvic::e2e
