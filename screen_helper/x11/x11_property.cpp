#include "x11_property.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <cstring>

#include "x11_connection.h"
#include "x11_text.h"

namespace halvic::x11 {

std::vector<std::uint32_t> Property::items32() const {
  std::vector<std::uint32_t> items;
  if (format != 32) return items;
  items.resize(bytes.size() / 4);
  if (!items.empty()) std::memcpy(items.data(), bytes.data(), items.size() * 4);
  return items;
}

std::optional<std::uint32_t> Property::first32() const {
  if (format != 32 || bytes.size() < 4) return std::nullopt;
  std::uint32_t value = 0;
  std::memcpy(&value, bytes.data(), 4);
  return value;
}

std::optional<Property> takeProperty(xcb_connection_t* c, xcb_get_property_cookie_t cookie) {
  xcb_generic_error_t* error = nullptr;
  xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, &error);
  std::free(error);
  if (reply == nullptr) return std::nullopt;
  Property property;
  property.type = reply->type;
  property.format = reply->format;
  const int length = xcb_get_property_value_length(reply);
  if (length > 0) {
    property.bytes.assign(static_cast<const char*>(xcb_get_property_value(reply)), static_cast<std::size_t>(length));
  }
  std::free(reply);
  return property;
}

std::optional<Property> readProperty(const Connection& connection, xcb_window_t window, xcb_atom_t atom) {
  return takeProperty(connection.xcb(), requestProperty(connection.xcb(), window, atom));
}

namespace {

std::optional<std::string> compoundTextToUtf8(Display* display, const Property& property) {
  XTextProperty text{};
  text.value = reinterpret_cast<unsigned char*>(const_cast<char*>(property.bytes.data()));
  text.encoding = property.type;
  text.format = property.format;
  text.nitems = property.bytes.size();
  char** list = nullptr;
  int count = 0;
  int status = XNoMemory;
  // Xlib looks up the encoding's atom, which may talk to the server.
  auto convert = [&] { status = Xutf8TextPropertyToTextList(display, &text, &list, &count); };
  if (!abandonOnServerLoss(convert)) return std::nullopt;
  // A partial conversion (a positive count of unconvertible characters) still
  // gives text worth showing.
  std::optional<std::string> result;
  if (status >= Success && list != nullptr && count > 0) result = sanitizedUtf8(list[0]);
  if (list != nullptr) XFreeStringList(list);
  return result;
}

}  // namespace

std::optional<std::string> textOf(const Connection& connection, const Property& property) {
  if (!property.present()) return std::nullopt;
  if (property.format != 8) return std::string();
  if (property.type == XCB_ATOM_STRING) return latin1ToUtf8(property.bytes);
  if (property.type == connection.atom(AtomName::CompoundText)) {
    if (auto converted = compoundTextToUtf8(connection.display(), property)) return converted;
    return latin1ToUtf8(property.bytes);  // its ASCII and Latin-1 parts read the same
  }
  return sanitizedUtf8(property.bytes);
}

std::optional<std::string> wmClassName(const Property& property) {
  if (!property.present() || property.format != 8) return std::nullopt;
  const std::string_view bytes = property.bytes;
  const std::size_t end = bytes.find('\0');
  if (end == std::string_view::npos) return std::nullopt;
  // WM_CLASS is STRING by convention; toolkits put UTF-8 in it as often as Latin-1.
  const std::string_view className = bytes.substr(end + 1);
  const std::string_view name = className.substr(0, className.find('\0'));
  std::string asUtf8 = sanitizedUtf8(name);
  if (asUtf8 != name) return latin1ToUtf8(name);
  return asUtf8;
}

}  // namespace halvic::x11
