#include "x_probe.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace halvic::e2e {
namespace {

std::vector<unsigned long> cardinals(Display* d, Window w, const char* name, Atom type) {
  Atom actualType = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::vector<unsigned long> items;
  if (XGetWindowProperty(d, w, XInternAtom(d, name, False), 0, 4096, False, type, &actualType, &format, &count, &after,
                         &data) == Success &&
      data != nullptr) {
    if (format == 32) {
      auto* longs = reinterpret_cast<unsigned long*>(data);
      items.assign(longs, longs + count);
    }
    XFree(data);
  }
  return items;
}

int ignoreErrors(Display*, XErrorEvent*) { return 0; }

}  // namespace

XProbe::XProbe() : display_(XOpenDisplay(nullptr)) {
  if (display_ == nullptr) throw std::runtime_error("the tests cannot reach the X display");
  XSetErrorHandler(ignoreErrors);
}

XProbe::~XProbe() { XCloseDisplay(display_); }

bool XProbe::waitUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

bool XProbe::windowManagerRuns() {
  const Window root = DefaultRootWindow(display_);
  const auto check = cardinals(display_, root, "_NET_SUPPORTING_WM_CHECK", XA_WINDOW);
  if (check.empty() || check[0] == None) return false;
  const auto self = cardinals(display_, check[0], "_NET_SUPPORTING_WM_CHECK", XA_WINDOW);
  return !self.empty() && self[0] == check[0];
}

std::vector<Window> XProbe::stackingBottomToTop() {
  const auto items = cardinals(display_, DefaultRootWindow(display_), "_NET_CLIENT_LIST_STACKING", XA_WINDOW);
  return std::vector<Window>(items.begin(), items.end());
}

std::optional<Window> XProbe::activeWindow() {
  const auto items = cardinals(display_, DefaultRootWindow(display_), "_NET_ACTIVE_WINDOW", XA_WINDOW);
  if (items.empty() || items[0] == None) return std::nullopt;
  return items[0];
}

bool XProbe::viewable(Window window) {
  XWindowAttributes attributes{};
  return XGetWindowAttributes(display_, window, &attributes) && attributes.map_state == IsViewable;
}

std::pair<int, int> XProbe::rootOrigin(Window window) {
  int x = 0, y = 0;
  Window child = None;
  XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
  return {x, y};
}

void XProbe::sendToRoot(Window window, const char* message, long data0, long data1) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display_, message, False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = data0;
  event.xclient.data.l[1] = data1;
  XSendEvent(display_, DefaultRootWindow(display_), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XFlush(display_);
}

bool XProbe::activate(Window window) {
  constexpr long kFromPager = 2;  // obeyed without focus-stealing checks
  sendToRoot(window, "_NET_ACTIVE_WINDOW", kFromPager, CurrentTime);
  const Atom dock = XInternAtom(display_, "_NET_WM_WINDOW_TYPE_DOCK", False);
  return waitUntil([&] {
    if (activeWindow() != window) return false;
    // Raised: above every window but docks, which stay in a layer of their own.
    auto stacking = stackingBottomToTop();
    while (!stacking.empty() && stacking.back() != window) {
      const auto types = cardinals(display_, stacking.back(), "_NET_WM_WINDOW_TYPE", XA_ATOM);
      if (types.empty() || types[0] != dock) return false;
      stacking.pop_back();
    }
    return !stacking.empty();
  });
}

bool XProbe::iconify(Window window) {
  XIconifyWindow(display_, window, DefaultScreen(display_));
  XFlush(display_);
  return waitUntil([&] { return !viewable(window); });
}

bool XProbe::moveToDesktop(Window window, long desktop) {
  sendToRoot(window, "_NET_WM_DESKTOP", desktop, 2);
  return waitUntil([&] {
    const auto items = cardinals(display_, window, "_NET_WM_DESKTOP", XA_CARDINAL);
    return !items.empty() && static_cast<long>(items[0]) == desktop;
  });
}

void XProbe::focus(Window window) {
  XSetInputFocus(display_, window, RevertToPointerRoot, CurrentTime);
  XSync(display_, False);
}

}  // namespace halvic::e2e
