#include "window_grab_gnome.h"

#include <png.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>

#include <nlohmann/json.hpp>

#include "shell_bus.h"
#include "shell_windows.h"

namespace halvic::capture {
namespace {

using namespace std::chrono_literals;

// Within the program's watchdog (10 s) together.
constexpr auto kProbeTimeout = 1000ms;
constexpr auto kRequestTimeout = 2000ms;
constexpr auto kCaptureTimeout = 5000ms;

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

// The PNG the Shell wrote into `fd`, as 8-bit RGB: transparent parts (a window's rounded corners) over black.
std::variant<RgbImage, std::string> decodePng(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || info.st_size <= 0) return std::string("the GNOME Shell wrote no image");
  std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
  if (pread(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
    return std::string("cannot read the GNOME Shell's image");
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
    return std::string("the GNOME Shell's image is not a PNG");
  }
  image.format = PNG_FORMAT_RGB;
  RgbImage rgb{image.width, image.height, std::vector<std::uint8_t>(PNG_IMAGE_SIZE(image))};
  const png_color black{0, 0, 0};
  if (!png_image_finish_read(&image, &black, rgb.pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    return std::string("cannot decode the GNOME Shell's image");
  }
  return rgb;
}

std::variant<RgbImage, std::string> grab(gnome::ShellBus& bus, std::uint64_t window) {
  const gnome::ShellReply list = bus.windows(kRequestTimeout);
  if (list.answer != gnome::ShellAnswer::answered) return list.text;
  const nlohmann::json windows = nlohmann::json::parse(list.text, nullptr, /*allow_exceptions=*/false);
  const nlohmann::json* entry = gnome::findWindow(windows, window);
  if (entry == nullptr) return "no window " + std::to_string(window) + " in the GNOME Shell";
  const auto area = gnome::ownAreaInFrame(*entry);
  if (!area || area->width <= 0 || area->height <= 0) return "window " + std::to_string(window) + " has no area";
  // The Shell writes into a file of this process's that has no name, so it can neither follow nor replace one.
  const Fd file{memfd_create("halvic-capture", MFD_CLOEXEC)};
  if (file.fd < 0) return std::string("cannot create the capture's buffer");
  const gnome::ShellReply captured = bus.capture(window, *area, file.fd, kCaptureTimeout);
  if (captured.answer != gnome::ShellAnswer::answered) return captured.text;
  return decodePng(file.fd);
}

}  // namespace

std::optional<std::variant<RgbImage, std::string>> grabThroughGnomeShell(std::uint64_t window) {
  const gnome::ProbedShell probed = gnome::probeShell(kProbeTimeout);
  switch (probed.reply.answer) {
    case gnome::ShellAnswer::answered:
      return grab(*probed.bus, window);
    case gnome::ShellAnswer::silent:
    case gnome::ShellAnswer::failed:
      return probed.reply.text;
    default:
      return std::nullopt;
  }
}

}  // namespace halvic::capture
