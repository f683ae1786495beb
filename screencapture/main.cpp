// halvic_screencapture -x -o -l <window> <path>: writes a PNG of one window,
// an X11 window, a Wayland compositor's container or a GNOME Shell window. On
// failure it writes one line to stderr and exits non-zero, which the screen
// helper reports as the capture's message.
#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "exclusive_file.h"
#include "png_encoder.h"
#include "watchdog.h"
#include "window_grab.h"

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "halvic_screencapture: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace halvic::capture;
  const auto request = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!request) return fail("usage: halvic_screencapture -x -o -l <window> <path>");

  // Longer than the compositor's bounded waits together (about 8 s).
  startWatchdog(10);
  auto grabbed = grabWindow(request->window);
  if (auto* message = std::get_if<std::string>(&grabbed)) return fail(*message);

  const std::string png = encodePng(std::get<RgbImage>(grabbed));
  if (png.empty()) return fail("cannot encode the PNG");

  stopWatchdog();
  if (const std::string failure = writeNewFile(request->path, png); !failure.empty()) return fail(failure);
  return 0;
}
