#include "x11_connection.h"

#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>

#include <fcntl.h>
#include <setjmp.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string_view>

#include "silenced_stderr.h"

namespace halvic::x11 {
namespace {

constexpr std::array<std::string_view, static_cast<std::size_t>(AtomName::Count)> kAtomNames = {
    "_NET_SUPPORTING_WM_CHECK",
    "_NET_CLIENT_LIST_STACKING",
    "_NET_CURRENT_DESKTOP",
    "_NET_ACTIVE_WINDOW",
    "_NET_WM_DESKTOP",
    "_NET_WM_STATE",
    "_NET_WM_STATE_HIDDEN",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_TOOLBAR",
    "_NET_WM_WINDOW_TYPE_MENU",
    "_NET_WM_WINDOW_TYPE_UTILITY",
    "_NET_WM_WINDOW_TYPE_SPLASH",
    "_NET_WM_WINDOW_TYPE_DIALOG",
    "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",
    "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION",
    "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_DND",
    "_NET_WM_WINDOW_TYPE_NORMAL",
    "_NET_WM_PID",
    "_NET_WM_NAME",
    "_NET_WM_WINDOW_OPACITY",
    "WM_STATE",
    "UTF8_STRING",
    "COMPOUND_TEXT",
};

// Xlib's default handlers print and exit; a window that vanishes between two
// requests is normal here, and a lost server just leaves later replies empty.
int ignoreError(Display*, XErrorEvent*) { return 0; }
void keepRunning(Display*, void*) {}

// Where the Xlib call now running through abandonOnServerLoss() resumes when
// the server is lost; null outside such calls.
sigjmp_buf* abandonPoint = nullptr;

// The display given up on, kept reachable: the process never frees it, and
// leak checkers need not count it.
Display* abandonedDisplay = nullptr;

// Returning would let Xlib go on: inside XOpenDisplay it then exits (the
// display's exit handler cannot be replaced before the display exists), and
// later it prints and hands its caller a null request to fill.
int onIoError(Display* display) {
  if (abandonPoint == nullptr) return 0;
  abandonedDisplay = display;
  siglongjmp(*abandonPoint, 1);
}

// Xlib prints the server's reason when it refuses a connection (missing
// authorisation, too many clients), and that must not reach our stderr.
Display* openDisplaySilently() {
  Display* display = nullptr;
  auto openDisplay = [&display] { display = XOpenDisplay(nullptr); };
  withStderrSilenced([&openDisplay] { abandonOnServerLoss(openDisplay); });
  return display;
}

void closeDisplay(Display* display) {
  auto closeIt = [display] { XCloseDisplay(display); };
  abandonOnServerLoss(closeIt);
}

}  // namespace

std::unique_ptr<Connection> Connection::open() {
  XSetErrorHandler(ignoreError);
  XSetIOErrorHandler(onIoError);
  Display* display = openDisplaySilently();
  if (display == nullptr) return nullptr;
  XSetIOErrorExitHandler(display, keepRunning, nullptr);
  xcb_connection_t* xcb = XGetXCBConnection(display);
  if (xcb == nullptr || xcb_connection_has_error(xcb)) {
    closeDisplay(display);
    return nullptr;
  }
  const xcb_window_t root = static_cast<xcb_window_t>(DefaultRootWindow(display));
  return std::unique_ptr<Connection>(new Connection(display, xcb, root));
}

Connection::Connection(Display* display, xcb_connection_t* xcb, xcb_window_t root)
    : display_(display), xcb_(xcb), root_(root) {
  std::array<xcb_intern_atom_cookie_t, kAtomNames.size()> cookies{};
  for (std::size_t i = 0; i < kAtomNames.size(); ++i) {
    cookies[i] = xcb_intern_atom(xcb_, 0, static_cast<std::uint16_t>(kAtomNames[i].size()),
                                 kAtomNames[i].data());
  }
  for (std::size_t i = 0; i < kAtomNames.size(); ++i) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(xcb_, cookies[i], nullptr);
    atoms_[i] = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
  }
}

Connection::~Connection() { closeDisplay(display_); }

bool Connection::alive() const { return xcb_connection_has_error(xcb_) == 0; }

namespace detail {

bool runAbandonable(void (*call)(void*), void* context) {
  sigjmp_buf point;
  sigjmp_buf* const outer = abandonPoint;
  if (sigsetjmp(point, 0) != 0) {
    abandonPoint = outer;
    return false;
  }
  abandonPoint = &point;
  call(context);
  abandonPoint = outer;
  return true;
}

}  // namespace detail

}  // namespace halvic::x11
