#include "x11_client_pid.h"

#include <xcb/res.h>

#include <cstdlib>
#include <memory>

#include "x11_connection.h"

namespace halvic::x11 {

// Through xcb rather than libXRes: Xlib's requests on a connection whose
// server has gone print to stderr and hand libXRes a null request to fill.
std::optional<std::int32_t> clientPidOf(const Connection& connection, xcb_window_t window) {
  xcb_connection_t* c = connection.xcb();
  // Sending a request of an extension the server lacks would close the
  // connection; the presence query is made once per connection and cached.
  const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_res_id);
  if (extension == nullptr || !extension->present) return std::nullopt;

  const xcb_res_client_id_spec_t pidOfWindow{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
  std::unique_ptr<xcb_res_query_client_ids_reply_t, decltype(&std::free)> reply(
      xcb_res_query_client_ids_reply(c, xcb_res_query_client_ids(c, 1, &pidOfWindow), nullptr), &std::free);
  if (!reply) return std::nullopt;
  for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem > 0; xcb_res_client_id_value_next(&it)) {
    if (!(it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID)) continue;
    if (xcb_res_client_id_value_value_length(it.data) < 1) continue;
    const std::uint32_t pid = *xcb_res_client_id_value_value(it.data);
    if (pid > 0 && pid <= 0x7FFFFFFF) return static_cast<std::int32_t>(pid);
  }
  return std::nullopt;
}

}  // namespace halvic::x11
