#include "window_grab_x11.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <fcntl.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <memory>

#include "silenced_stderr.h"

namespace halvic::capture {
namespace {

// Errors come back as a flag the code checks after XSync, never as Xlib's
// printed report and exit.
int lastErrorCode = 0;
int recordError(Display*, XErrorEvent* event) {
  lastErrorCode = event->error_code;
  return 0;
}
int ignoreIoError(Display*) { return 0; }

// Xlib prints the server's reason when it refuses a connection; the program's
// own one-line message says it instead.
Display* openDisplaySilently() {
  Display* display = nullptr;
  halvic::withStderrSilenced([&display] { display = XOpenDisplay(nullptr); });
  return display;
}

struct DisplayCloser {
  void operator()(Display* d) const { XCloseDisplay(d); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

struct ImageDestroyer {
  void operator()(XImage* image) const { XDestroyImage(image); }
};
using ImagePtr = std::unique_ptr<XImage, ImageDestroyer>;

// A shared-memory segment attached to the server for one XShmGetImage; the
// segment is marked for removal at once so that nothing outlives the process.
class SharedImage {
 public:
  SharedImage(Display* display, Visual* visual, int depth, unsigned width, unsigned height)
      : display_(display) {
    info_.shmid = -1;
    image_ = XShmCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, nullptr, &info_, width, height);
    if (image_ == nullptr) return;
    info_.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(image_->bytes_per_line) * height, IPC_CREAT | 0600);
    if (info_.shmid < 0) return;
    info_.shmaddr = image_->data = static_cast<char*>(shmat(info_.shmid, nullptr, 0));
    shmctl(info_.shmid, IPC_RMID, nullptr);
    if (info_.shmaddr == reinterpret_cast<char*>(-1)) {
      info_.shmaddr = image_->data = nullptr;
      return;
    }
    info_.readOnly = False;
    lastErrorCode = 0;
    attached_ = XShmAttach(display, &info_) && (XSync(display, False), lastErrorCode == 0);
  }
  ~SharedImage() {
    if (attached_) XShmDetach(display_, &info_);
    if (info_.shmaddr != nullptr) shmdt(info_.shmaddr);
    if (image_ != nullptr) {
      image_->data = nullptr;
      XDestroyImage(image_);
    }
  }
  SharedImage(const SharedImage&) = delete;
  SharedImage& operator=(const SharedImage&) = delete;

  // The area of `window` at (x, y), or nullptr when shared memory failed.
  XImage* read(Window window, int x, int y) {
    if (!attached_) return nullptr;
    lastErrorCode = 0;
    if (!XShmGetImage(display_, window, image_, x, y, AllPlanes)) return nullptr;
    XSync(display_, False);
    return lastErrorCode == 0 ? image_ : nullptr;
  }

 private:
  Display* display_;
  XShmSegmentInfo info_{};
  XImage* image_ = nullptr;
  bool attached_ = false;
};

unsigned shiftOf(unsigned long mask) { return mask == 0 ? 0 : static_cast<unsigned>(std::countr_zero(mask)); }

// Copies `image` into `out` at (left, top). The common TrueColor layouts take
// the fast path; anything else goes through XGetPixel.
void copyPixels(const XImage& image, RgbImage& out, unsigned left, unsigned top) {
  const unsigned rs = shiftOf(image.red_mask), gs = shiftOf(image.green_mask), bs = shiftOf(image.blue_mask);
  const bool eightBitChannels = image.red_mask >> rs == 0xFF && image.green_mask >> gs == 0xFF &&
                                image.blue_mask >> bs == 0xFF;
  const bool fast = image.bits_per_pixel == 32 && eightBitChannels &&
                    image.byte_order == (std::endian::native == std::endian::little ? LSBFirst : MSBFirst);
  for (int y = 0; y < image.height; ++y) {
    std::uint8_t* dst = out.pixels.data() + ((top + static_cast<unsigned>(y)) * out.width + left) * 3;
    if (fast) {
      const auto* src = reinterpret_cast<const std::uint32_t*>(image.data + static_cast<std::ptrdiff_t>(y) * image.bytes_per_line);
      for (int x = 0; x < image.width; ++x) {
        const std::uint32_t p = src[x];
        *dst++ = static_cast<std::uint8_t>(p >> rs);
        *dst++ = static_cast<std::uint8_t>(p >> gs);
        *dst++ = static_cast<std::uint8_t>(p >> bs);
      }
    } else {
      XImage& mutableImage = const_cast<XImage&>(image);
      auto channel = [](unsigned long p, unsigned long mask, unsigned shift) {
        const unsigned long max = mask >> shift;
        return static_cast<std::uint8_t>(max == 0 ? 0 : ((p & mask) >> shift) * 255 / max);
      };
      for (int x = 0; x < image.width; ++x) {
        const unsigned long p = XGetPixel(&mutableImage, x, y);
        *dst++ = channel(p, image.red_mask, rs);
        *dst++ = channel(p, image.green_mask, gs);
        *dst++ = channel(p, image.blue_mask, bs);
      }
    }
  }
}

}  // namespace

std::variant<RgbImage, std::string> grabX11Window(std::uint32_t window) {
  XSetErrorHandler(recordError);
  XSetIOErrorHandler(ignoreIoError);
  DisplayPtr display(openDisplaySilently());
  if (!display) return std::string("cannot open the X display");
  Display* d = display.get();

  XWindowAttributes attributes{};
  lastErrorCode = 0;
  if (!XGetWindowAttributes(d, window, &attributes) || lastErrorCode != 0) {
    return "no window " + std::to_string(window);
  }
  if (attributes.map_state != IsViewable) return "window " + std::to_string(window) + " is not on screen";
  if (attributes.c_class == InputOnly || attributes.width <= 0 || attributes.height <= 0) {
    return "window " + std::to_string(window) + " has no pixels";
  }
  if (attributes.visual->c_class != TrueColor && attributes.visual->c_class != DirectColor) {
    return "window " + std::to_string(window) + " does not use a true-colour visual";
  }

  // The window's origin on the root, to clip the read to the screen: X only
  // hands out pixels that are on screen.
  int rootX = 0, rootY = 0;
  Window child = 0;
  if (!XTranslateCoordinates(d, window, attributes.root, 0, 0, &rootX, &rootY, &child)) {
    return "window " + std::to_string(window) + " is not on this screen";
  }
  const int screenWidth = WidthOfScreen(attributes.screen), screenHeight = HeightOfScreen(attributes.screen);
  const int left = std::max(0, -rootX), top = std::max(0, -rootY);
  const int right = std::min(attributes.width, screenWidth - rootX);
  const int bottom = std::min(attributes.height, screenHeight - rootY);

  RgbImage out;
  out.width = static_cast<std::uint32_t>(attributes.width);
  out.height = static_cast<std::uint32_t>(attributes.height);
  out.pixels.assign(static_cast<std::size_t>(out.width) * out.height * 3, 0);
  if (right <= left || bottom <= top) return out;  // wholly off screen: all black
  const auto readWidth = static_cast<unsigned>(right - left), readHeight = static_cast<unsigned>(bottom - top);

  std::unique_ptr<SharedImage> shared;
  XImage* image = nullptr;
  ImagePtr copied;
  if (XShmQueryExtension(d)) {
    shared = std::make_unique<SharedImage>(d, attributes.visual, attributes.depth, readWidth, readHeight);
    image = shared->read(window, left, top);
  }
  if (image == nullptr) {
    lastErrorCode = 0;
    copied.reset(XGetImage(d, window, left, top, readWidth, readHeight, AllPlanes, ZPixmap));
    XSync(d, False);
    if (!copied || lastErrorCode != 0) return "cannot read the pixels of window " + std::to_string(window);
    image = copied.get();
  }
  copyPixels(*image, out, static_cast<unsigned>(left), static_cast<unsigned>(top));
  return out;
}

}  // namespace halvic::capture
