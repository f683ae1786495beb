// A test window in its own process (test_window), on screen while the object
// lives.
#pragma once

#include <X11/Xlib.h>

#include <string>
#include <vector>

#include "live_child.h"

namespace halvic::e2e {

class TestWindow {
 public:
  // `options` are test_window's flags. Returns once the window is viewable
  // and, under a window manager, listed and managed.
  explicit TestWindow(const std::vector<std::string>& options);
  Window id() const { return id_; }
  pid_t pid() const { return process_.pid(); }

 private:
  LiveChild process_;
  Window id_ = None;
};

}  // namespace halvic::e2e
