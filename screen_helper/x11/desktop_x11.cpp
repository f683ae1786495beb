// The Linux desktop on X11: windows and focus from an X server with an EWMH
// window manager.
#include "desktop_x11.h"

#include <string>

#include "linux_desktop.h"
#include "x11_connection.h"
#include "x11_window_list.h"

namespace halvic {
namespace {

class X11Desktop final : public LinuxDesktop {
 public:
  explicit X11Desktop(X11WindowScope scope) : scope_(scope) {}

  std::optional<FrontmostApplication> frontmostApplication() override {
    x11::Connection* c = connection();
    if (c == nullptr) return std::nullopt;
    const auto window = x11::activeWindow(*c);
    if (!window) return std::nullopt;
    const auto owner = x11::ownerOf(*c, *window);
    if (!owner) return std::nullopt;
    // An owner whose process is unknown must match none of the listed
    // windows (those without a pid read as 0), so it gets a pid no process has.
    return FrontmostApplication{owner->pid.value_or(-1), owner->name};
  }

  std::optional<std::vector<LooseValue>> windowList() override {
    x11::Connection* c = connection();
    if (c == nullptr) return std::nullopt;
    std::optional<std::vector<xcb_window_t>> windows;
    if (scope_ == X11WindowScope::focusedWindowOnly) {
      windows.emplace();
      if (const auto active = x11::activeWindow(*c)) windows->push_back(*active);
    } else {
      windows = x11::windowsFrontToBack(*c);
    }
    if (!windows) return std::nullopt;
    std::vector<LooseValue> records;
    for (const x11::WindowFacts& facts : x11::onScreenWindows(*c, *windows)) {
      records.emplace_back(x11::windowRecord(facts));
    }
    return records;
  }


 private:
  // Opened on first use and kept: the connection is not data, so keeping it
  // caches nothing the calls report.
  x11::Connection* connection() {
    if (!opened_) {
      connection_ = x11::Connection::open();
      opened_ = true;
    }
    return connection_.get();
  }

  X11WindowScope scope_;
  bool opened_ = false;
  std::unique_ptr<x11::Connection> connection_;
};

}  // namespace

std::unique_ptr<Desktop> makeX11Desktop(X11WindowScope scope) { return std::make_unique<X11Desktop>(scope); }

}  // namespace halvic
