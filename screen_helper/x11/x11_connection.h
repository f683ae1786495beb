// One connection to the X server, opened so that nothing it does can print or
// end the process, with the atoms the desktop backend reads.
#pragma once

#include <xcb/xcb.h>

#include <array>
#include <memory>

using Display = struct _XDisplay;

namespace halvic::x11 {

enum class AtomName {
  NetSupportingWmCheck,
  NetClientListStacking,
  NetCurrentDesktop,
  NetActiveWindow,
  NetWmDesktop,
  NetWmState,
  NetWmStateHidden,
  NetWmWindowType,
  NetWmWindowTypeDesktop,
  NetWmWindowTypeDock,
  NetWmWindowTypeToolbar,
  NetWmWindowTypeMenu,
  NetWmWindowTypeUtility,
  NetWmWindowTypeSplash,
  NetWmWindowTypeDialog,
  NetWmWindowTypeDropdownMenu,
  NetWmWindowTypePopupMenu,
  NetWmWindowTypeTooltip,
  NetWmWindowTypeNotification,
  NetWmWindowTypeCombo,
  NetWmWindowTypeDnd,
  NetWmWindowTypeNormal,
  NetWmPid,
  NetWmName,
  NetWmWindowOpacity,
  WmState,
  Utf8String,
  CompoundText,
  Count
};

class Connection {
 public:
  // nullptr when there is no display to talk to.
  static std::unique_ptr<Connection> open();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  Display* display() const { return display_; }
  xcb_connection_t* xcb() const { return xcb_; }
  xcb_window_t root() const { return root_; }
  xcb_atom_t atom(AtomName name) const { return atoms_[static_cast<std::size_t>(name)]; }
  // False once the server has gone away; every later reply is then missing.
  bool alive() const;

 private:
  Connection(Display* display, xcb_connection_t* xcb, xcb_window_t root);
  Display* display_;
  xcb_connection_t* xcb_;
  xcb_window_t root_;
  std::array<xcb_atom_t, static_cast<std::size_t>(AtomName::Count)> atoms_{};
};

namespace detail {
bool runAbandonable(void (*call)(void*), void* context);
}

// Runs `call`, an Xlib call that may talk to the server. Xlib's own requests,
// unlike xcb's, do not survive a lost server (it exits, or prints and fills a
// null request), so when the server turns out to be gone the call is jumped
// out of and false returned; what it was making is abandoned. `call` must not
// hold anything that needs destroying while it is inside Xlib.
template <typename Call>
bool abandonOnServerLoss(Call& call) {
  return detail::runAbandonable([](void* context) { (*static_cast<Call*>(context))(); }, &call);
}

}  // namespace halvic::x11
