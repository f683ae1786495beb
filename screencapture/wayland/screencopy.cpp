#include "screencopy.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include <wayland-client.h>

#include "shm_pixels.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace halvic::capture {
namespace {

using Clock = std::chrono::steady_clock;

// Dispatches the display's events until `done()` holds. False when the
// connection breaks or the deadline passes first; the read is bounded by
// poll(), never by a blocking wl_display_dispatch.
template <typename Done>
bool dispatchUntil(wl_display* display, Done done, Clock::time_point deadline) {
  while (!done()) {
    while (wl_display_prepare_read(display) != 0) {
      if (wl_display_dispatch_pending(display) < 0) return false;
      if (done()) return true;
    }
    if (wl_display_flush(display) < 0 && errno != EAGAIN) {
      wl_display_cancel_read(display);
      return false;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd entry{wl_display_get_fd(display), POLLIN, 0};
    const int ready = left > 0 ? ::poll(&entry, 1, static_cast<int>(left)) : 0;
    if (ready <= 0) {
      wl_display_cancel_read(display);
      if (ready < 0 && errno == EINTR) continue;
      return false;
    }
    if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0) return false;
  }
  return true;
}

bool roundtrip(wl_display* display, Clock::time_point deadline) {
  bool done = false;
  static constexpr wl_callback_listener kListener = {
      [](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }};
  wl_callback* callback = wl_display_sync(display);
  wl_callback_add_listener(callback, &kListener, &done);
  const bool answered = dispatchUntil(display, [&done] { return done; }, deadline);
  wl_callback_destroy(callback);  // also when the compositor never answered
  return answered;
}

struct Output {
  wl_output* output = nullptr;
  zxdg_output_v1* xdgOutput = nullptr;
  std::string name;
};

struct Globals {
  wl_shm* shm = nullptr;
  zwlr_screencopy_manager_v1* screencopy = nullptr;
  std::uint32_t screencopyVersion = 0;
  zxdg_output_manager_v1* xdgOutputs = nullptr;
  std::vector<std::unique_ptr<Output>> outputs;
};

void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version) {
  auto& globals = *static_cast<Globals*>(data);
  const std::string_view which = interface;
  if (which == wl_shm_interface.name) {
    globals.shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
  } else if (which == zwlr_screencopy_manager_v1_interface.name) {
    // Version 3 says when all buffer kinds are announced (buffer_done).
    globals.screencopyVersion = std::min(version, 3u);
    globals.screencopy = static_cast<zwlr_screencopy_manager_v1*>(
        wl_registry_bind(registry, name, &zwlr_screencopy_manager_v1_interface, globals.screencopyVersion));
  } else if (which == zxdg_output_manager_v1_interface.name && version >= 2) {
    // Version 2 tells each output's name, the one the IPC uses.
    globals.xdgOutputs = static_cast<zxdg_output_manager_v1*>(
        wl_registry_bind(registry, name, &zxdg_output_manager_v1_interface, 2));
  } else if (which == wl_output_interface.name) {
    auto output = std::make_unique<Output>();
    output->output = static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, 1));
    globals.outputs.push_back(std::move(output));
  }
}
void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}
constexpr wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

void ignorePosition(void*, zxdg_output_v1*, std::int32_t, std::int32_t) {}
void ignoreDone(void*, zxdg_output_v1*) {}
void onName(void* data, zxdg_output_v1*, const char* name) { static_cast<Output*>(data)->name = name; }
void ignoreDescription(void*, zxdg_output_v1*, const char*) {}
constexpr zxdg_output_v1_listener kXdgOutputListener = {ignorePosition, ignorePosition, ignoreDone, onName,
                                                        ignoreDescription};

// 16384 x 16384 pixels of 4 bytes: more than any output has.
constexpr std::size_t kLargestFrame = std::size_t{1} << 30;

// One piece's frame: its shared buffer, made when the compositor says what
// it wants, and what became of the copy.
struct Frame {
  const CapturePiece* piece = nullptr;
  wl_shm* shm = nullptr;
  std::uint32_t version = 0;
  zwlr_screencopy_frame_v1* frame = nullptr;
  ShmFrame shape;
  bool offered = false;  // a wl_shm buffer shape came
  wl_buffer* buffer = nullptr;
  void* memory = MAP_FAILED;
  std::size_t size = 0;
  bool ready = false;
  std::string failure;

  ~Frame() {
    if (buffer != nullptr) wl_buffer_destroy(buffer);
    if (memory != MAP_FAILED) munmap(memory, size);
    if (frame != nullptr) zwlr_screencopy_frame_v1_destroy(frame);
  }

  void copy() {
    if (!offered || !readableShmFormat(shape.format)) {
      failure = "the compositor offers no readable shared-memory format for output " + piece->output;
      return;
    }
    size = std::size_t{shape.stride} * shape.height;
    if (size == 0 || size > kLargestFrame) {
      failure = "the compositor asks for an impossible frame size for output " + piece->output;
      return;
    }
    const int fd = memfd_create("halvic-screencopy", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0 ||
        (memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)) == MAP_FAILED) {
      if (fd >= 0) close(fd);
      failure = "no memory for the frame of output " + piece->output;
      return;
    }
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(size));
    buffer = wl_shm_pool_create_buffer(pool, 0, static_cast<std::int32_t>(shape.width),
                                       static_cast<std::int32_t>(shape.height), static_cast<std::int32_t>(shape.stride),
                                       shape.format);
    wl_shm_pool_destroy(pool);
    close(fd);
    zwlr_screencopy_frame_v1_copy(frame, buffer);
  }
};

void onBuffer(void* data, zwlr_screencopy_frame_v1*, std::uint32_t format, std::uint32_t width, std::uint32_t height,
              std::uint32_t stride) {
  auto& f = *static_cast<Frame*>(data);
  f.shape.format = format;
  f.shape.width = width;
  f.shape.height = height;
  f.shape.stride = stride;
  f.offered = true;
  if (f.version < 3) f.copy();  // no buffer_done will follow
}
void onFlags(void* data, zwlr_screencopy_frame_v1*, std::uint32_t flags) {
  static_cast<Frame*>(data)->shape.yInvert = (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
}
void onReady(void* data, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t) {
  static_cast<Frame*>(data)->ready = true;
}
void onFailed(void* data, zwlr_screencopy_frame_v1*) {
  auto& f = *static_cast<Frame*>(data);
  f.failure = "the compositor could not copy output " + f.piece->output;
}
void ignoreDamage(void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void ignoreDmabuf(void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t) {}
void onBufferDone(void* data, zwlr_screencopy_frame_v1*) { static_cast<Frame*>(data)->copy(); }
constexpr zwlr_screencopy_frame_v1_listener kFrameListener = {onBuffer,     onFlags,      onReady,     onFailed,
                                                              ignoreDamage, ignoreDmabuf, onBufferDone};

struct DisplayCloser {
  void operator()(wl_display* display) const { wl_display_disconnect(display); }
};

// Releases what was bound before the connection closes.
struct Session {
  std::unique_ptr<wl_display, DisplayCloser> display;
  wl_registry* registry = nullptr;
  Globals globals;
  std::vector<std::unique_ptr<Frame>> frames;

  ~Session() {
    frames.clear();
    for (auto& output : globals.outputs) {
      if (output->xdgOutput != nullptr) zxdg_output_v1_destroy(output->xdgOutput);
      wl_output_destroy(output->output);
    }
    if (globals.xdgOutputs != nullptr) zxdg_output_manager_v1_destroy(globals.xdgOutputs);
    if (globals.screencopy != nullptr) zwlr_screencopy_manager_v1_destroy(globals.screencopy);
    if (globals.shm != nullptr) wl_shm_destroy(globals.shm);
    if (registry != nullptr) wl_registry_destroy(registry);
  }
};

const char* kTooSlow = "the compositor did not answer in time";

// Some wlroots releases (0.15, in Debian 12) turn a region the wrong way on an
// output turned by 90 or 270 degrees and copy the wrong part, so there the
// whole output is copied and the piece cut out here, as screenshot tools do.
bool turned(const CapturePiece& piece) { return piece.transform % 2 == 1; }

PixelRect partInPixels(const CapturePiece& piece) {
  auto pixels = [&piece](std::int64_t logical) {
    return static_cast<std::uint32_t>(std::lround(static_cast<double>(logical) * piece.scale));
  };
  const std::uint32_t x = pixels(piece.region.x), y = pixels(piece.region.y);
  return {x, y, pixels(piece.region.x + piece.region.width) - x, pixels(piece.region.y + piece.region.height) - y};
}

}  // namespace

std::string copyPieces(const CapturePlan& plan, RgbImage& picture, Clock::time_point deadline) {
  Session session;
  session.display.reset(wl_display_connect(nullptr));
  wl_display* display = session.display.get();
  if (display == nullptr) return "cannot connect to the Wayland display";
  session.registry = wl_display_get_registry(display);
  wl_registry_add_listener(session.registry, &kRegistryListener, &session.globals);
  if (!roundtrip(display, deadline)) return kTooSlow;
  Globals& globals = session.globals;
  if (globals.screencopy == nullptr) return "the compositor does not offer screen copies (wlr-screencopy)";
  if (globals.shm == nullptr || globals.xdgOutputs == nullptr) return "the compositor lacks wl_shm or xdg-output";

  for (auto& output : globals.outputs) {
    output->xdgOutput = zxdg_output_manager_v1_get_xdg_output(globals.xdgOutputs, output->output);
    zxdg_output_v1_add_listener(output->xdgOutput, &kXdgOutputListener, output.get());
  }
  if (!roundtrip(display, deadline)) return kTooSlow;

  for (const CapturePiece& piece : plan.pieces) {
    const auto output = std::find_if(globals.outputs.begin(), globals.outputs.end(),
                                     [&piece](const auto& o) { return o->name == piece.output; });
    if (output == globals.outputs.end()) return "output " + piece.output + " is gone";
    auto frame = std::make_unique<Frame>();
    frame->piece = &piece;
    frame->shm = globals.shm;
    frame->version = globals.screencopyVersion;
    if (turned(piece)) {
      frame->frame = zwlr_screencopy_manager_v1_capture_output(globals.screencopy, 0, (*output)->output);
    } else {
      frame->frame = zwlr_screencopy_manager_v1_capture_output_region(
          globals.screencopy, 0, (*output)->output, static_cast<std::int32_t>(piece.region.x),
          static_cast<std::int32_t>(piece.region.y), static_cast<std::int32_t>(piece.region.width),
          static_cast<std::int32_t>(piece.region.height));
    }
    zwlr_screencopy_frame_v1_add_listener(frame->frame, &kFrameListener, frame.get());
    session.frames.push_back(std::move(frame));
  }

  auto settled = [&session] {
    return std::all_of(session.frames.begin(), session.frames.end(),
                       [](const auto& f) { return f->ready || !f->failure.empty(); });
  };
  if (!dispatchUntil(display, settled, deadline)) {
    return wl_display_get_error(display) != 0 ? "the Wayland connection failed" : kTooSlow;
  }
  for (const auto& f : session.frames) {
    if (!f->failure.empty()) return f->failure;
    f->shape.bytes = {static_cast<const std::uint8_t*>(f->memory), f->size};
    f->shape.transform = f->piece->transform;
    if (turned(*f->piece)) f->shape.part = partInPixels(*f->piece);
    if (!drawShmFrame(f->shape, picture, f->piece->target)) {
      return "cannot read the frame of output " + f->piece->output;
    }
  }
  return {};
}

}  // namespace halvic::capture
