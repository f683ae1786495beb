#include "x11_client_pid.h"

#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>

#include "x11_connection.h"

namespace halvic::x11 {

std::optional<std::int32_t> clientPidOf(const Connection& connection, xcb_window_t window) {
  Display* display = connection.display();
  int eventBase = 0, errorBase = 0;
  if (!XResQueryExtension(display, &eventBase, &errorBase)) return std::nullopt;
  XResClientIdSpec client{};
  client.client = window;
  client.mask = XRES_CLIENT_ID_PID_MASK;
  long count = 0;
  XResClientIdValue* values = nullptr;
  std::optional<std::int32_t> pid;
  if (XResQueryClientIds(display, 1, &client, &count, &values) == Success) {
    for (long i = 0; i < count; ++i) {
      const pid_t p = XResGetClientPid(&values[i]);
      if (p > 0) {
        pid = static_cast<std::int32_t>(p);
        break;
      }
    }
  }
  if (values != nullptr) XResClientIdsDestroy(count, values);
  return pid;
}

}  // namespace halvic::x11
