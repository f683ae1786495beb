// The desktop backend for Wayland compositors that speak sway's IPC.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "desktop.h"

namespace halvic {

// Each call sends one get_tree request to the socket at `socketPath` and waits
// at most `timeout` for the reply; a compositor that does not answer in time
// gives no frontmost application and no window list, now and for the rest
// of the run.
std::unique_ptr<Desktop> makeSwayDesktop(std::string socketPath, std::chrono::milliseconds timeout);

}  // namespace halvic
