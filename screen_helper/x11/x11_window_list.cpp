#include "x11_window_list.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "x11_client_pid.h"
#include "x11_connection.h"
#include "x11_property.h"

namespace halvic::x11 {
namespace {

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> own(T* reply) {
  return Reply<T>(reply, &std::free);
}

std::optional<std::uint32_t> read32(const Connection& c, xcb_window_t window, AtomName name) {
  auto property = readProperty(c, window, c.atom(name));
  return property ? property->first32() : std::nullopt;
}

// A window manager that follows EWMH names a check window that names itself.
bool ewmhWindowManagerRuns(const Connection& c) {
  const auto check = read32(c, c.root(), AtomName::NetSupportingWmCheck);
  if (!check || *check == XCB_WINDOW_NONE) return false;
  return read32(c, *check, AtomName::NetSupportingWmCheck) == check;
}

std::optional<std::vector<xcb_window_t>> childrenOf(const Connection& c, xcb_window_t window) {
  auto tree = own(xcb_query_tree_reply(c.xcb(), xcb_query_tree(c.xcb(), window), nullptr));
  if (!tree) return std::nullopt;
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  return std::vector<xcb_window_t>(children, children + xcb_query_tree_children_length(tree.get()));
}

bool hasWmState(const Connection& c, xcb_window_t window) {
  auto property = readProperty(c, window, c.atom(AtomName::WmState));
  return property && property->present();
}

// A top-level window is the client itself, or a frame around a client (the one
// child that carries WM_STATE).
xcb_window_t clientOf(const Connection& c, xcb_window_t topLevel) {
  if (hasWmState(c, topLevel)) return topLevel;
  if (auto children = childrenOf(c, topLevel)) {
    for (xcb_window_t child : *children) {
      if (hasWmState(c, child)) return child;
    }
  }
  return topLevel;
}

// The root's child that contains `window`.
std::optional<xcb_window_t> topLevelOf(const Connection& c, xcb_window_t window) {
  for (int depth = 0; depth < 64; ++depth) {
    auto tree = own(xcb_query_tree_reply(c.xcb(), xcb_query_tree(c.xcb(), window), nullptr));
    if (!tree) return std::nullopt;
    if (tree->parent == c.root()) return window;
    if (tree->parent == XCB_WINDOW_NONE) return std::nullopt;
    window = tree->parent;
  }
  return std::nullopt;
}

// Every request for one window, sent before any reply is awaited.
struct PendingWindow {
  xcb_window_t window;
  xcb_get_window_attributes_cookie_t attributes;
  xcb_get_geometry_cookie_t geometry;
  xcb_translate_coordinates_cookie_t origin;
  xcb_get_property_cookie_t desktop, state, type, pid, wmClass, netName, wmName, opacity;
};

PendingWindow request(const Connection& c, xcb_window_t window) {
  xcb_connection_t* x = c.xcb();
  return PendingWindow{
      window,
      xcb_get_window_attributes(x, window),
      xcb_get_geometry(x, window),
      xcb_translate_coordinates(x, window, c.root(), 0, 0),
      requestProperty(x, window, c.atom(AtomName::NetWmDesktop)),
      requestProperty(x, window, c.atom(AtomName::NetWmState)),
      requestProperty(x, window, c.atom(AtomName::NetWmWindowType)),
      requestProperty(x, window, c.atom(AtomName::NetWmPid)),
      requestProperty(x, window, XCB_ATOM_WM_CLASS),
      requestProperty(x, window, c.atom(AtomName::NetWmName)),
      requestProperty(x, window, XCB_ATOM_WM_NAME),
      requestProperty(x, window, c.atom(AtomName::NetWmWindowOpacity)),
  };
}

// Every reply of one window; nullopt when any of them is missing, which means
// the window vanished in between.
struct ReadWindow {
  Reply<xcb_get_window_attributes_reply_t> attributes{nullptr, &std::free};
  Reply<xcb_get_geometry_reply_t> geometry{nullptr, &std::free};
  Reply<xcb_translate_coordinates_reply_t> origin{nullptr, &std::free};
  std::optional<Property> desktop, state, type, pid, wmClass, netName, wmName, opacity;
};

std::optional<ReadWindow> collect(const Connection& c, const PendingWindow& p) {
  xcb_connection_t* x = c.xcb();
  ReadWindow r;
  // Every reply is taken, even after a failure, so no reply is left queued.
  r.attributes = own(xcb_get_window_attributes_reply(x, p.attributes, nullptr));
  r.geometry = own(xcb_get_geometry_reply(x, p.geometry, nullptr));
  r.origin = own(xcb_translate_coordinates_reply(x, p.origin, nullptr));
  r.desktop = takeProperty(x, p.desktop);
  r.state = takeProperty(x, p.state);
  r.type = takeProperty(x, p.type);
  r.pid = takeProperty(x, p.pid);
  r.wmClass = takeProperty(x, p.wmClass);
  r.netName = takeProperty(x, p.netName);
  r.wmName = takeProperty(x, p.wmName);
  r.opacity = takeProperty(x, p.opacity);
  const bool complete = r.attributes && r.geometry && r.origin && r.desktop && r.state && r.type && r.pid &&
                        r.wmClass && r.netName && r.wmName && r.opacity;
  if (!complete) return std::nullopt;
  return r;
}

constexpr std::uint32_t kAllDesktops = 0xFFFFFFFF;

bool shown(const Connection& c, const ReadWindow& r, std::optional<std::uint32_t> currentDesktop) {
  if (r.attributes->map_state != XCB_MAP_STATE_VIEWABLE) return false;
  if (r.attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY) return false;
  const auto desktop = r.desktop->first32();
  if (desktop && currentDesktop && *desktop != kAllDesktops && *desktop != *currentDesktop) return false;
  const auto states = r.state->items32();
  return std::find(states.begin(), states.end(), c.atom(AtomName::NetWmStateHidden)) == states.end();
}

std::optional<std::int32_t> pidOf(const Connection& c, xcb_window_t window, const Property& netWmPid) {
  if (auto pid = netWmPid.first32(); pid && *pid > 0 && *pid <= 0x7FFFFFFF) return static_cast<std::int32_t>(*pid);
  return clientPidOf(c, window);
}

std::optional<std::string> titleOf(const Connection& c, const Property& netName, const Property& wmName) {
  if (netName.present()) return textOf(c, netName);
  return textOf(c, wmName);
}

}  // namespace

std::optional<std::vector<xcb_window_t>> windowsFrontToBack(const Connection& c) {
  if (!c.alive()) return std::nullopt;
  std::vector<xcb_window_t> windows;
  std::optional<Property> stacking;
  if (ewmhWindowManagerRuns(c)) {
    stacking = readProperty(c, c.root(), c.atom(AtomName::NetClientListStacking));
    if (!stacking) return std::nullopt;
  }
  // A manager that keeps no stacking list leaves the order to the server.
  if (stacking && stacking->present()) {
    const auto items = stacking->items32();
    windows.assign(items.begin(), items.end());
  } else {
    auto children = childrenOf(c, c.root());
    if (!children) return std::nullopt;
    for (xcb_window_t child : *children) windows.push_back(clientOf(c, child));
  }
  std::reverse(windows.begin(), windows.end());
  return windows;
}

std::vector<WindowFacts> onScreenWindows(const Connection& c, const std::vector<xcb_window_t>& windows) {
  const auto currentDesktop = read32(c, c.root(), AtomName::NetCurrentDesktop);
  std::vector<PendingWindow> pending;
  pending.reserve(windows.size());
  for (xcb_window_t window : windows) pending.push_back(request(c, window));

  std::vector<std::pair<xcb_window_t, ReadWindow>> read;
  for (const PendingWindow& p : pending) {
    if (auto r = collect(c, p); r && shown(c, *r, currentDesktop)) read.emplace_back(p.window, std::move(*r));
  }

  std::vector<WindowFacts> facts;
  facts.reserve(read.size());
  for (const auto& [window, r] : read) {
    WindowFacts f;
    f.window = window;
    f.ownerPid = pidOf(c, window, *r.pid);
    f.ownerName = wmClassName(*r.wmClass);
    f.title = titleOf(c, *r.netName, *r.wmName);
    f.layer = layerOf(c, r.type->items32(), r.attributes->override_redirect != 0);
    f.alpha = alphaOf(r.opacity->first32());
    f.x = r.origin->dst_x;
    f.y = r.origin->dst_y;
    f.width = r.geometry->width;
    f.height = r.geometry->height;
    facts.push_back(std::move(f));
  }
  return facts;
}

std::optional<WindowOwner> ownerOf(const Connection& c, xcb_window_t window) {
  auto pid = readProperty(c, window, c.atom(AtomName::NetWmPid));
  auto wmClass = readProperty(c, window, XCB_ATOM_WM_CLASS);
  if (!pid || !wmClass) return std::nullopt;
  return WindowOwner{pidOf(c, window, *pid), wmClassName(*wmClass)};
}

std::optional<xcb_window_t> activeWindow(const Connection& c) {
  if (!c.alive()) return std::nullopt;
  if (ewmhWindowManagerRuns(c)) {
    const auto active = read32(c, c.root(), AtomName::NetActiveWindow);
    if (!active || *active == XCB_WINDOW_NONE) return std::nullopt;
    return *active;
  }
  auto focus = own(xcb_get_input_focus_reply(c.xcb(), xcb_get_input_focus(c.xcb()), nullptr));
  if (!focus || focus->focus == XCB_WINDOW_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT ||
      focus->focus == c.root()) {
    return std::nullopt;
  }
  auto topLevel = topLevelOf(c, focus->focus);
  if (!topLevel) return std::nullopt;
  return clientOf(c, *topLevel);
}

}  // namespace halvic::x11
