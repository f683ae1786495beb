// A client window for the end-to-end tests: opens one window with the
// properties the command line asks for, fills it with known pixels, prints its
// window id once it is on screen, and stays until its stdin closes.
//
//   test_window [--title=T | --legacy-title=T | --compound-title=T]
//               [--class=C] [--size=WxH]
//               [--pos=X,Y] [--opacity=F] [--type=T] [--pid=N | --no-pid]
//               [--photo] [--count=N]
//
// With --count it opens N such windows, cascaded, and prints every id.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "test_pattern.h"

namespace {

struct Options {
  std::optional<std::string> title;        // _NET_WM_NAME and WM_NAME as UTF-8
  std::optional<std::string> legacyTitle;  // WM_NAME only, as Latin-1 STRING
  std::optional<std::string> compoundTitle;  // WM_NAME only, as COMPOUND_TEXT
  std::string windowClass = "TestWindow";
  unsigned width = 400, height = 300;
  int x = 50, y = 50;
  std::optional<double> opacity;
  std::optional<std::string> type;
  std::optional<long> pid = static_cast<long>(getpid());
  bool photo = false;
  int count = 1;
};

bool startsWith(const std::string& s, const char* prefix, std::string& rest) {
  const std::size_t n = std::strlen(prefix);
  if (s.compare(0, n, prefix) != 0) return false;
  rest = s.substr(n);
  return true;
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string v;
    if (startsWith(arg, "--title=", v)) o.title = v;
    else if (startsWith(arg, "--legacy-title=", v)) o.legacyTitle = v;
    else if (startsWith(arg, "--compound-title=", v)) o.compoundTitle = v;
    else if (startsWith(arg, "--class=", v)) o.windowClass = v;
    else if (startsWith(arg, "--size=", v)) std::sscanf(v.c_str(), "%ux%u", &o.width, &o.height);
    else if (startsWith(arg, "--pos=", v)) std::sscanf(v.c_str(), "%d,%d", &o.x, &o.y);
    else if (startsWith(arg, "--opacity=", v)) o.opacity = std::atof(v.c_str());
    else if (startsWith(arg, "--type=", v)) o.type = v;
    else if (startsWith(arg, "--pid=", v)) o.pid = std::atol(v.c_str());
    else if (arg == "--no-pid") o.pid.reset();
    else if (arg == "--photo") o.photo = true;
    else if (startsWith(arg, "--count=", v)) o.count = std::max(1, std::atoi(v.c_str()));
    else {
      std::fprintf(stderr, "test_window: unknown argument %s\n", arg.c_str());
      std::exit(2);
    }
  }
  return o;
}

std::string utf8ToLatin1(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if ((c & 0xE0) == 0xC0 && i + 1 < s.size()) {
      out += static_cast<char>(((c & 0x1F) << 6) | (static_cast<unsigned char>(s[++i]) & 0x3F));
    }
  }
  return out;
}

void setProperty(Display* d, Window w, const char* name, Atom type, int format, const void* data, int count) {
  XChangeProperty(d, w, XInternAtom(d, name, False), type, format, PropModeReplace,
                  static_cast<const unsigned char*>(data), count);
}

void setProperties(Display* d, Window w, const Options& o) {
  const std::string classHint = o.windowClass + '\0' + o.windowClass + '\0';
  setProperty(d, w, "WM_CLASS", XA_STRING, 8, classHint.data(), static_cast<int>(classHint.size()));
  const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  if (o.title) {
    setProperty(d, w, "_NET_WM_NAME", utf8, 8, o.title->data(), static_cast<int>(o.title->size()));
    setProperty(d, w, "WM_NAME", utf8, 8, o.title->data(), static_cast<int>(o.title->size()));
  }
  if (o.legacyTitle) {
    const std::string latin1 = utf8ToLatin1(*o.legacyTitle);
    setProperty(d, w, "WM_NAME", XA_STRING, 8, latin1.data(), static_cast<int>(latin1.size()));
  }
  if (o.compoundTitle) {
    char* list[] = {const_cast<char*>(o.compoundTitle->c_str())};
    XTextProperty text{};
    if (Xutf8TextListToTextProperty(d, list, 1, XCompoundTextStyle, &text) >= Success) {
      XSetWMName(d, w, &text);
      XFree(text.value);
    }
  }
  if (o.pid) setProperty(d, w, "_NET_WM_PID", XA_CARDINAL, 32, &*o.pid, 1);
  if (o.opacity) {
    const long value = static_cast<long>(*o.opacity * 0xFFFFFFFFu);
    setProperty(d, w, "_NET_WM_WINDOW_OPACITY", XA_CARDINAL, 32, &value, 1);
  }
  if (o.type) {
    const std::string name = "_NET_WM_WINDOW_TYPE_" + *o.type;
    const long atom = static_cast<long>(XInternAtom(d, name.c_str(), False));
    setProperty(d, w, "_NET_WM_WINDOW_TYPE", XA_ATOM, 32, &atom, 1);
  }
  // Ask the window manager to keep the requested position and size.
  XSizeHints hints{};
  hints.flags = USPosition | USSize | PMinSize | PMaxSize;
  hints.x = o.x;
  hints.y = o.y;
  hints.min_width = hints.max_width = static_cast<int>(o.width);
  hints.min_height = hints.max_height = static_cast<int>(o.height);
  XSetWMNormalHints(d, w, &hints);
}

XImage* contentImage(Display* d, Visual* visual, const Options& o) {
  auto* data = static_cast<std::uint32_t*>(std::malloc(std::size_t{o.width} * o.height * 4));
  std::vector<halvic::e2e::Rgb> photo;
  if (o.photo) photo = halvic::e2e::photoPixels(o.width, o.height);
  for (unsigned y = 0; y < o.height; ++y) {
    for (unsigned x = 0; x < o.width; ++x) {
      const auto p = o.photo ? photo[y * o.width + x] : halvic::e2e::patternPixel(x, y);
      data[y * o.width + x] = (std::uint32_t{p.r} << 16) | (std::uint32_t{p.g} << 8) | p.b;
    }
  }
  return XCreateImage(d, visual, 24, ZPixmap, 0, reinterpret_cast<char*>(data), o.width, o.height, 32, 0);
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) {
    std::fprintf(stderr, "test_window: no display\n");
    return 2;
  }
  const int screen = DefaultScreen(d);
  XImage* image = contentImage(d, DefaultVisual(d, screen), o);
  std::vector<Window> windows;
  for (int i = 0; i < o.count; ++i) {
    Options placed = o;
    placed.x += (i % 40) * 20;
    placed.y += (i % 25) * 20;
    Window w = XCreateSimpleWindow(d, RootWindow(d, screen), placed.x, placed.y, o.width, o.height, 0, 0, 0);
    setProperties(d, w, placed);
    XSelectInput(d, w, ExposureMask | StructureNotifyMask);
    XMapWindow(d, w);
    windows.push_back(w);
  }
  GC gc = XCreateGC(d, windows.front(), 0, nullptr);

  std::vector<bool> exposed(windows.size(), false);
  bool announced = false;
  pollfd fds[2] = {{ConnectionNumber(d), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
  for (;;) {
    while (XPending(d)) {
      XEvent event;
      XNextEvent(d, &event);
      if (event.type != Expose) continue;
      XPutImage(d, event.xexpose.window, gc, image, 0, 0, 0, 0, o.width, o.height);
      XSync(d, False);
      const auto it = std::find(windows.begin(), windows.end(), event.xexpose.window);
      if (it != windows.end()) exposed[static_cast<std::size_t>(it - windows.begin())] = true;
      if (!announced && std::find(exposed.begin(), exposed.end(), false) == exposed.end()) {
        for (Window w : windows) std::printf("%lu\n", w);
        std::fflush(stdout);
        announced = true;
      }
    }
    if (poll(fds, 2, -1) < 0) break;
    if (fds[1].revents & (POLLIN | POLLHUP)) {
      char buffer[64];
      if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0) break;
    }
  }
  XDestroyImage(image);
  XFreeGC(d, gc);
  XCloseDisplay(d);
  return 0;
}
