// A client for the tests and benchmarks: opens --count windows (cascaded) with the properties the command line asks
// for, showing known pixels, prints their ids once they are mapped, and stays until its stdin closes. --title sets
// _NET_WM_NAME and WM_NAME as UTF-8; --legacy-title sets WM_NAME as a Latin-1 STRING, --compound-title as
// COMPOUND_TEXT. Also --class=C (WM_CLASS's class; its instance is the program's name, as Xlib programs set it)
// --size=WxH --pos=X,Y --opacity=F --type=T (_NET_WM_WINDOW_TYPE_T) --pid=N --no-pid --photo (photo-like content)
// --above (kept above other windows, _NET_WM_STATE_ABOVE) --no-focus (never takes the input focus) --focus (takes it).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "test_pattern.h"

namespace {

void setProperty(Display* d, Window w, const char* name, Atom type, int format, const void* data, std::size_t count) {
  XChangeProperty(d, w, XInternAtom(d, name, False), type, format, PropModeReplace,
                  static_cast<const unsigned char*>(data), static_cast<int>(count));
}

void setTitle(Display* d, Window w, const std::string& title, XICCEncodingStyle style) {
  char* list[] = {const_cast<char*>(title.c_str())};
  XTextProperty text{};
  if (Xutf8TextListToTextProperty(d, list, 1, style, &text) >= Success) {
    XSetWMName(d, w, &text);
    XFree(text.value);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> o = {{"class", "TestWindow"},
                                          {"size", "400x300"},
                                          {"pos", "50,50"},
                                          {"pid", std::to_string(getpid())},
                                          {"count", "1"}};
  for (const std::string& arg : std::vector<std::string>(argv + 1, argv + argc)) {
    const std::size_t equals = std::min(arg.find('='), arg.size());
    o[arg.substr(2, equals - 2)] = arg.substr(std::min(equals + 1, arg.size()));
  }
  if (o.count("no-pid")) o.erase("pid");
  unsigned width = 0, height = 0;
  int x = 0, y = 0;
  std::sscanf(o["size"].c_str(), "%ux%u", &width, &height);
  std::sscanf(o["pos"].c_str(), "%d,%d", &x, &y);
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) return std::fprintf(stderr, "test_window: no display\n"), 2;

  // The pixels are the windows' background, which the server paints itself.
  auto* data = static_cast<std::uint32_t*>(std::malloc(std::size_t{width} * height * 4));
  const auto photo = o.count("photo") ? halvic::e2e::photoPixels(width, height) : std::vector<halvic::e2e::Rgb>{};
  for (unsigned row = 0; row < height; ++row) {
    for (unsigned column = 0; column < width; ++column) {
      const auto p = photo.empty() ? halvic::e2e::patternPixel(column, row) : photo[row * width + column];
      data[row * width + column] = (std::uint32_t{p.r} << 16) | (std::uint32_t{p.g} << 8) | p.b;
    }
  }
  const Window root = DefaultRootWindow(d);
  XImage* image = XCreateImage(d, DefaultVisual(d, DefaultScreen(d)), 24, ZPixmap, 0, reinterpret_cast<char*>(data),
                               width, height, 32, 0);
  const Pixmap background = XCreatePixmap(d, root, width, height, DefaultDepth(d, DefaultScreen(d)));
  GC gc = XCreateGC(d, background, 0, nullptr);
  XPutImage(d, background, gc, image, 0, 0, 0, 0, width, height);
  XDestroyImage(image);

  std::vector<Window> windows;
  for (int i = 0; i < std::atoi(o["count"].c_str()); ++i) {
    XSizeHints hints{};  // asks the window manager to keep position and size
    hints.flags = USPosition | USSize | PMinSize | PMaxSize;
    hints.x = x + (i % 40) * 20;
    hints.y = y + (i % 25) * 20;
    hints.min_width = hints.max_width = static_cast<int>(width);
    hints.min_height = hints.max_height = static_cast<int>(height);
    const Window w = XCreateSimpleWindow(d, root, hints.x, hints.y, width, height, 0, 0, 0);
    XSetWindowBackgroundPixmap(d, w, background);
    XSetWMNormalHints(d, w, &hints);
    const std::string classHint = std::string("test_window") + '\0' + o["class"] + '\0';
    setProperty(d, w, "WM_CLASS", XA_STRING, 8, classHint.data(), classHint.size());
    if (o.count("title")) {
      const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
      setProperty(d, w, "_NET_WM_NAME", utf8, 8, o["title"].data(), o["title"].size());
      setProperty(d, w, "WM_NAME", utf8, 8, o["title"].data(), o["title"].size());
    }
    if (o.count("legacy-title")) setTitle(d, w, o["legacy-title"], XStringStyle);
    if (o.count("compound-title")) setTitle(d, w, o["compound-title"], XCompoundTextStyle);
    auto setLong = [&](const char* name, Atom type, long value) { setProperty(d, w, name, type, 32, &value, 1); };
    if (o.count("pid")) setLong("_NET_WM_PID", XA_CARDINAL, std::atol(o["pid"].c_str()));
    if (o.count("opacity"))
      setLong("_NET_WM_WINDOW_OPACITY", XA_CARDINAL, static_cast<long>(std::atof(o["opacity"].c_str()) * 0xFFFFFFFFu));
    if (o.count("type"))
      setLong("_NET_WM_WINDOW_TYPE", XA_ATOM,
              static_cast<long>(XInternAtom(d, ("_NET_WM_WINDOW_TYPE_" + o["type"]).c_str(), False)));
    if (o.count("no-focus")) {
      XWMHints hints{};
      hints.flags = InputHint;
      hints.input = False;
      XSetWMHints(d, w, &hints);
    }
    if (o.count("above"))
      setLong("_NET_WM_STATE", XA_ATOM, static_cast<long>(XInternAtom(d, "_NET_WM_STATE_ABOVE", False)));
    XSelectInput(d, w, StructureNotifyMask);
    XMapWindow(d, w);
    windows.push_back(w);
  }
  for (std::size_t mapped = 0; mapped < windows.size();) {
    XEvent event;
    XNextEvent(d, &event);
    mapped += event.type == MapNotify;
  }
  if (o.count("focus")) XSetInputFocus(d, windows.front(), RevertToPointerRoot, CurrentTime);
  XSync(d, False);
  for (const Window w : windows) std::printf("%lu\n", w);
  std::fflush(stdout);
  for (char buffer[64]; read(STDIN_FILENO, buffer, sizeof buffer) > 0;) {
  }
  XCloseDisplay(d);
  return 0;
}
