// A Wayland toplevel whose buffer pixel (x, y) is patternPixel(x, y), with SCALE buffer pixels per logical one:
//   colour_window APP_ID SCALE WxH [TITLE]
// WxH is the logical size it takes when the compositor leaves the choice to it (a floating window). Each time
// the compositor has shown a newly drawn size, "WxH" goes to $XDG_RUNTIME_DIR/colour-window-APP_ID, so a test
// knows when the screen shows what the layout tree says. It runs until the compositor goes away.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <wayland-client.h>

#include "test_pattern.h"
#include "xdg-shell-client-protocol.h"

namespace {

struct Window {
  std::string appId;
  int scale = 1, preferredWidth = 0, preferredHeight = 0;
  int pendingWidth = 0, pendingHeight = 0, drawnWidth = 0, drawnHeight = 0;
  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
  xdg_wm_base* wmBase = nullptr;
  wl_surface* surface = nullptr;
  wl_buffer* buffer = nullptr;
};

wl_buffer* drawBuffer(const Window& w, int width, int height) {
  const int stride = width * 4;
  const auto size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
  const int fd = memfd_create("colour_window", MFD_CLOEXEC);
  void* memory = ftruncate(fd, static_cast<off_t>(size)) == 0
                     ? mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                     : MAP_FAILED;
  if (memory == MAP_FAILED) std::exit(1);
  auto* pixels = static_cast<std::uint32_t*>(memory);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const auto p = halvic::e2e::patternPixel(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
      pixels[y * width + x] = 0xff000000u | std::uint32_t{p.r} << 16 | std::uint32_t{p.g} << 8 | p.b;
    }
  }
  munmap(memory, size);
  wl_shm_pool* pool = wl_shm_create_pool(w.shm, fd, static_cast<std::int32_t>(size));
  wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  return buffer;
}

// Written through a rename, so a reader never sees half of it.
const wl_callback_listener kShown = {[](void* data, wl_callback* callback, std::uint32_t) {
  const auto& w = *static_cast<const Window*>(data);
  wl_callback_destroy(callback);
  const std::string path = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/colour-window-" + w.appId;
  if (FILE* file = std::fopen((path + ".new").c_str(), "w")) {
    std::fprintf(file, "%dx%d", w.drawnWidth, w.drawnHeight);
    std::fclose(file);
    std::rename((path + ".new").c_str(), path.c_str());
  }
}};

const xdg_surface_listener kSurfaceListener = {[](void* data, xdg_surface* surface, std::uint32_t serial) {
  auto& w = *static_cast<Window*>(data);
  xdg_surface_ack_configure(surface, serial);
  const int width = w.pendingWidth > 0 ? w.pendingWidth : w.preferredWidth;
  const int height = w.pendingHeight > 0 ? w.pendingHeight : w.preferredHeight;
  if (width != w.drawnWidth || height != w.drawnHeight) {
    if (w.buffer != nullptr) wl_buffer_destroy(w.buffer);
    w.buffer = drawBuffer(w, width * w.scale, height * w.scale);
    w.drawnWidth = width;
    w.drawnHeight = height;
    wl_surface_set_buffer_scale(w.surface, w.scale);
    wl_surface_attach(w.surface, w.buffer, 0, 0);
    wl_surface_damage_buffer(w.surface, 0, 0, width * w.scale, height * w.scale);
    wl_callback_add_listener(wl_surface_frame(w.surface), &kShown, &w);
  }
  wl_surface_commit(w.surface);
}};

const xdg_toplevel_listener kToplevelListener = {
    [](void* data, xdg_toplevel*, std::int32_t width, std::int32_t height, wl_array*) {
      auto& w = *static_cast<Window*>(data);
      w.pendingWidth = width;
      w.pendingHeight = height;
    },
    [](void*, xdg_toplevel*) {}, nullptr, nullptr};  // the last two are not sent at version 1

const xdg_wm_base_listener kPong = {[](void*, xdg_wm_base* base, std::uint32_t serial) {
  xdg_wm_base_pong(base, serial);
}};

const wl_registry_listener kRegistryListener = {
    .global = [](void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t) {
      auto& w = *static_cast<Window*>(data);
      const std::string_view which = interface;
      if (which == wl_compositor_interface.name) {
        w.compositor = static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 4));
      } else if (which == wl_shm_interface.name) {
        w.shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
      } else if (which == xdg_wm_base_interface.name) {
        w.wmBase = static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
        xdg_wm_base_add_listener(w.wmBase, &kPong, nullptr);
      }
    },
    .global_remove = [](void*, wl_registry*, std::uint32_t) {},
};

}  // namespace

int main(int argc, char** argv) {
  Window w;
  if (argc < 4 || (w.scale = std::atoi(argv[2])) < 1 ||
      std::sscanf(argv[3], "%dx%d", &w.preferredWidth, &w.preferredHeight) != 2) {
    std::fprintf(stderr, "usage: colour_window APP_ID SCALE WxH [TITLE]\n");
    return 2;
  }
  w.appId = argv[1];
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) return 1;
  wl_registry_add_listener(wl_display_get_registry(display), &kRegistryListener, &w);
  wl_display_roundtrip(display);
  if (w.compositor == nullptr || w.shm == nullptr || w.wmBase == nullptr) return 1;
  w.surface = wl_compositor_create_surface(w.compositor);
  xdg_surface* surface = xdg_wm_base_get_xdg_surface(w.wmBase, w.surface);
  xdg_surface_add_listener(surface, &kSurfaceListener, &w);
  xdg_toplevel* toplevel = xdg_surface_get_toplevel(surface);
  xdg_toplevel_add_listener(toplevel, &kToplevelListener, &w);
  xdg_toplevel_set_app_id(toplevel, argv[1]);
  xdg_toplevel_set_title(toplevel, argc > 4 ? argv[4] : argv[1]);
  wl_surface_commit(w.surface);  // the first configure answers this empty commit
  while (wl_display_dispatch(display) >= 0) {
  }
}
