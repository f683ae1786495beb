// A Wayland window that shows the e2e test pattern, so a capture can be
// checked pixel by pixel: an xdg-shell toplevel with one wl_shm buffer whose
// pixel (x, y), counted in buffer pixels from the top left, is
// patternPixel(x, y). With --scale=N the buffer has N pixels per logical one
// (buffer_scale N), as a client on a scale-N output draws.
//
//   colour_window --app-id=ID [--title=T] [--scale=N] [--size=WxH]
//
// --size is the logical size it asks for when the compositor leaves the
// choice to it (a floating window). Each time the compositor has shown a
// newly drawn size, it writes that size ("WxH", logical) to
// $XDG_RUNTIME_DIR/colour-window-<app id>, so a test knows when the screen
// shows what the layout tree says. It runs until the compositor closes it or
// goes away.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <wayland-client.h>

#include "test_pattern.h"
#include "xdg-shell-client-protocol.h"

namespace {

struct Window {
  std::string appId = "colour_window";
  std::string title = "colour window";
  int scale = 1;
  int preferredWidth = 400, preferredHeight = 300;

  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
  xdg_wm_base* wmBase = nullptr;
  wl_surface* surface = nullptr;
  xdg_surface* xdgSurface = nullptr;
  xdg_toplevel* toplevel = nullptr;
  wl_buffer* buffer = nullptr;
  int pendingWidth = 0, pendingHeight = 0;  // from the last toplevel configure
  int drawnWidth = 0, drawnHeight = 0;
  bool closed = false;
};

void onBufferRelease(void*, wl_buffer*) {}
const wl_buffer_listener kBufferListener = {onBufferRelease};

// A fresh buffer of width x height logical pixels at the window's scale.
wl_buffer* drawBuffer(Window& w, int width, int height) {
  const int pixelsWide = width * w.scale;
  const int pixelsHigh = height * w.scale;
  const int stride = pixelsWide * 4;
  const std::size_t size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(pixelsHigh);
  const int fd = memfd_create("colour_window", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) return nullptr;
  void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (memory == MAP_FAILED) {
    close(fd);
    return nullptr;
  }
  auto* pixels = static_cast<std::uint32_t*>(memory);
  for (int y = 0; y < pixelsHigh; ++y) {
    for (int x = 0; x < pixelsWide; ++x) {
      const auto p = halvic::e2e::patternPixel(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
      pixels[y * pixelsWide + x] = 0xff000000u | std::uint32_t{p.r} << 16 | std::uint32_t{p.g} << 8 | p.b;
    }
  }
  munmap(memory, size);
  wl_shm_pool* pool = wl_shm_create_pool(w.shm, fd, static_cast<std::int32_t>(size));
  wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, pixelsWide, pixelsHigh, stride, WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  wl_buffer_add_listener(buffer, &kBufferListener, nullptr);
  return buffer;
}

// Written through a rename, so a reader never sees half of it.
void reportShown(const Window& w, int width, int height) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr) return;
  const std::string path = std::string(runtime) + "/colour-window-" + w.appId;
  if (FILE* file = std::fopen((path + ".new").c_str(), "w")) {
    std::fprintf(file, "%dx%d", width, height);
    std::fclose(file);
    std::rename((path + ".new").c_str(), path.c_str());
  }
}

void onFrameShown(void* data, wl_callback* callback, std::uint32_t) {
  const auto& w = *static_cast<const Window*>(data);
  wl_callback_destroy(callback);
  reportShown(w, w.drawnWidth, w.drawnHeight);
}
const wl_callback_listener kFrameListener = {onFrameShown};

void onSurfaceConfigure(void* data, xdg_surface* surface, std::uint32_t serial) {
  auto& w = *static_cast<Window*>(data);
  xdg_surface_ack_configure(surface, serial);
  const int width = w.pendingWidth > 0 ? w.pendingWidth : w.preferredWidth;
  const int height = w.pendingHeight > 0 ? w.pendingHeight : w.preferredHeight;
  if (width != w.drawnWidth || height != w.drawnHeight) {
    wl_buffer* next = drawBuffer(w, width, height);
    if (next == nullptr) {
      w.closed = true;
      return;
    }
    if (w.buffer != nullptr) wl_buffer_destroy(w.buffer);
    w.buffer = next;
    w.drawnWidth = width;
    w.drawnHeight = height;
    wl_surface_set_buffer_scale(w.surface, w.scale);
    wl_surface_attach(w.surface, w.buffer, 0, 0);
    wl_surface_damage_buffer(w.surface, 0, 0, width * w.scale, height * w.scale);
    wl_callback_add_listener(wl_surface_frame(w.surface), &kFrameListener, &w);
  }
  wl_surface_commit(w.surface);
}
const xdg_surface_listener kSurfaceListener = {onSurfaceConfigure};

void onToplevelConfigure(void* data, xdg_toplevel*, std::int32_t width, std::int32_t height, wl_array*) {
  auto& w = *static_cast<Window*>(data);
  w.pendingWidth = width;
  w.pendingHeight = height;
}
void onToplevelClose(void* data, xdg_toplevel*) { static_cast<Window*>(data)->closed = true; }
void onToplevelBounds(void*, xdg_toplevel*, std::int32_t, std::int32_t) {}
void onToplevelCapabilities(void*, xdg_toplevel*, wl_array*) {}
const xdg_toplevel_listener kToplevelListener = {onToplevelConfigure, onToplevelClose, onToplevelBounds,
                                                 onToplevelCapabilities};

void onPing(void*, xdg_wm_base* base, std::uint32_t serial) { xdg_wm_base_pong(base, serial); }
const xdg_wm_base_listener kWmBaseListener = {onPing};

void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t) {
  auto& w = *static_cast<Window*>(data);
  const std::string_view which = interface;
  if (which == wl_compositor_interface.name) {
    w.compositor = static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 4));
  } else if (which == wl_shm_interface.name) {
    w.shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
  } else if (which == xdg_wm_base_interface.name) {
    w.wmBase = static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
    xdg_wm_base_add_listener(w.wmBase, &kWmBaseListener, nullptr);
  }
}
void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

bool parse(Window& w, int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&arg](std::string_view name) { return std::string(arg.substr(name.size())); };
    if (arg.starts_with("--app-id=")) {
      w.appId = value("--app-id=");
    } else if (arg.starts_with("--title=")) {
      w.title = value("--title=");
    } else if (arg.starts_with("--scale=")) {
      w.scale = std::stoi(value("--scale="));
    } else if (arg.starts_with("--size=") &&
               std::sscanf(argv[i] + 7, "%dx%d", &w.preferredWidth, &w.preferredHeight) == 2) {
    } else {
      return false;
    }
  }
  return w.scale >= 1 && w.preferredWidth > 0 && w.preferredHeight > 0;
}

}  // namespace

int main(int argc, char** argv) {
  Window w;
  if (!parse(w, argc, argv)) {
    std::fprintf(stderr, "usage: colour_window --app-id=ID [--title=T] [--scale=N] [--size=WxH]\n");
    return 2;
  }
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "colour_window: no Wayland display\n");
    return 1;
  }
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistryListener, &w);
  wl_display_roundtrip(display);
  if (w.compositor == nullptr || w.shm == nullptr || w.wmBase == nullptr) {
    std::fprintf(stderr, "colour_window: the compositor lacks wl_shm or xdg_wm_base\n");
    return 1;
  }
  w.surface = wl_compositor_create_surface(w.compositor);
  w.xdgSurface = xdg_wm_base_get_xdg_surface(w.wmBase, w.surface);
  xdg_surface_add_listener(w.xdgSurface, &kSurfaceListener, &w);
  w.toplevel = xdg_surface_get_toplevel(w.xdgSurface);
  xdg_toplevel_add_listener(w.toplevel, &kToplevelListener, &w);
  xdg_toplevel_set_app_id(w.toplevel, w.appId.c_str());
  xdg_toplevel_set_title(w.toplevel, w.title.c_str());
  wl_surface_commit(w.surface);  // the first configure answers this empty commit
  while (!w.closed && wl_display_dispatch(display) >= 0) {
  }
  wl_display_disconnect(display);
  return 0;
}
