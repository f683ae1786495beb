// The process behind a window when the window does not say (_NET_WM_PID
// missing): the X-Resource extension asks the server for the client's pid.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>

namespace halvic::x11 {

class Connection;

// nullopt when the server lacks the extension, the window is gone, or the
// client is remote (the server knows no pid for it).
std::optional<std::int32_t> clientPidOf(const Connection& connection, xcb_window_t window);

}  // namespace halvic::x11
