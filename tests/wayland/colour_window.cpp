// A Wayland toplevel of WxH logical pixels whose buffer pixel (x, y) is patternPixel(x, y) (or, with `photo`, the
// benchmarks' photo-like pixels), at SCALE buffer pixels per logical one, whatever size the compositor asks for (a
// floating window takes it as it is):
//   colour_window APP_ID SCALE WxH TITLE [photo]
// Once the compositor has shown it, $XDG_RUNTIME_DIR/colour-window-APP_ID exists. It runs until the compositor goes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include <wayland-client.h>

#include "test_pattern.h"
#include "xdg-shell-client-protocol.h"

namespace {

int scale = 0, width = 0, height = 0;
bool photo = false;
std::string shownMarker;
wl_compositor* compositor = nullptr;
wl_shm* shm = nullptr;
xdg_wm_base* wmBase = nullptr;
wl_surface* surface = nullptr;

wl_buffer* drawBuffer() {
  const int w = width * scale, h = height * scale, fd = memfd_create("colour_window", MFD_CLOEXEC);
  std::vector<std::uint32_t> pixels;
  const auto photoPixels = photo ? halvic::e2e::photoPixels(w, h) : std::vector<halvic::e2e::Rgb>{};
  for (int i = 0; i < w * h; ++i) {
    const auto p = photo ? photoPixels[i]
                         : halvic::e2e::patternPixel(static_cast<std::uint32_t>(i % w), static_cast<std::uint32_t>(i / w));
    pixels.push_back(std::uint32_t{p.r} << 16 | p.g << 8 | p.b);
  }
  if (write(fd, pixels.data(), pixels.size() * 4) != static_cast<ssize_t>(pixels.size() * 4)) std::exit(1);
  wl_shm_pool* pool = wl_shm_create_pool(shm, fd, w * h * 4);
  wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, w, h, w * 4, WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  return buffer;
}

const wl_callback_listener kShown = {[](void*, wl_callback* callback, std::uint32_t) {
  wl_callback_destroy(callback);
  std::ofstream{shownMarker};
}};

// Every configure is answered with the same buffer, drawn once.
const xdg_surface_listener kConfigured = {[](void*, xdg_surface* xdgSurface, std::uint32_t serial) {
  static wl_buffer* const buffer = drawBuffer();
  xdg_surface_ack_configure(xdgSurface, serial);
  wl_surface_set_buffer_scale(surface, scale);
  wl_surface_attach(surface, buffer, 0, 0);
  wl_surface_damage_buffer(surface, 0, 0, width * scale, height * scale);
  wl_callback_add_listener(wl_surface_frame(surface), &kShown, nullptr);
  wl_surface_commit(surface);
}};

const xdg_wm_base_listener kPong = {[](void*, xdg_wm_base* base, std::uint32_t serial) {
  xdg_wm_base_pong(base, serial);
}};

const wl_registry_listener kRegistryListener = {
    [](void*, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t) {
      const std::string_view which = interface;
      if (which == wl_compositor_interface.name)
        compositor = static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 4));
      if (which == wl_shm_interface.name)
        shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
      if (which == xdg_wm_base_interface.name)
        wmBase = static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
    },
    [](void*, wl_registry*, std::uint32_t) {}};

}  // namespace

int main(int argc, char** argv) {
  photo = argc == 6 && std::string_view(argv[5]) == "photo";
  if (argc != 5 + photo || (scale = std::atoi(argv[2])) < 1 || std::sscanf(argv[3], "%dx%d", &width, &height) != 2) return 2;
  shownMarker = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/colour-window-" + argv[1];
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) return 1;
  wl_registry_add_listener(wl_display_get_registry(display), &kRegistryListener, nullptr);
  wl_display_roundtrip(display);
  if (compositor == nullptr || shm == nullptr || wmBase == nullptr) return 1;
  xdg_wm_base_add_listener(wmBase, &kPong, nullptr);
  surface = wl_compositor_create_surface(compositor);
  xdg_surface* xdgSurface = xdg_wm_base_get_xdg_surface(wmBase, surface);
  xdg_surface_add_listener(xdgSurface, &kConfigured, nullptr);
  xdg_toplevel* toplevel = xdg_surface_get_toplevel(xdgSurface);
  xdg_toplevel_set_app_id(toplevel, argv[1]);
  xdg_toplevel_set_title(toplevel, argv[4]);
  wl_surface_commit(surface);  // the first configure answers this empty commit
  while (wl_display_dispatch(display) >= 0) {
  }
}
