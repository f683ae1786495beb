// A desktop whose window-system calls give up after a deadline.
#pragma once

#include <chrono>
#include <memory>

#include "desktop.h"

namespace halvic {

// Wraps `inner` so that frontmostApplication() and windowList() return nullopt
// when `inner` has not answered within `deadline`. Xlib and xcb wait on the
// server without a limit, and Xwayland stops answering when its compositor
// freezes; the run must still report. After the first call that misses its
// deadline, `inner` is left to the thread still waiting inside it (never
// destroyed: it may be mid-request) and every later call returns nullopt at once.
std::unique_ptr<Desktop> withDeadline(std::unique_ptr<Desktop> inner, std::chrono::milliseconds deadline);

}  // namespace halvic
