// Window properties fetched in a pipeline: ask for all of them first, then
// collect the replies, so a long window list costs one round trip, not many.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halvic::x11 {

class Connection;

// One property value as the server stored it; type XCB_ATOM_NONE when the
// window does not have the property.
struct Property {
  xcb_atom_t type = XCB_ATOM_NONE;
  std::uint8_t format = 0;
  std::string bytes;

  bool present() const { return type != XCB_ATOM_NONE; }
  // The 32-bit items (CARDINAL, WINDOW, ATOM lists); empty for other formats.
  std::vector<std::uint32_t> items32() const;
  std::optional<std::uint32_t> first32() const;
};

// Longest property read, in 32-bit units; titles and lists stay far below.
inline constexpr std::uint32_t kMaxPropertyLength = 1u << 16;

inline xcb_get_property_cookie_t requestProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t atom) {
  return xcb_get_property(c, 0, window, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, kMaxPropertyLength);
}

// The reply to a requestProperty; nullopt when the window is gone (or the
// server is), so the caller can drop the window.
std::optional<Property> takeProperty(xcb_connection_t* c, xcb_get_property_cookie_t cookie);

// One property read at once, for the few single reads outside a pipeline.
std::optional<Property> readProperty(const Connection& connection, xcb_window_t window, xcb_atom_t atom);

// A text property (WM_NAME, _NET_WM_NAME, WM_CLASS items) as UTF-8: STRING is
// Latin-1, COMPOUND_TEXT goes through Xlib's converters, anything else is taken
// as UTF-8. Ill-formed bytes never come out. nullopt when absent.
std::optional<std::string> textOf(const Connection& connection, const Property& property);

// The class (second item) of a WM_CLASS value, as UTF-8; nullopt when missing.
std::optional<std::string> wmClassName(const Property& property);

}  // namespace halvic::x11
