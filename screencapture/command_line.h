// The screenshot program's command line, the one macOS's screencapture takes
// for a window capture: -x -o -l <window> <path>.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halvic::capture {

struct CaptureRequest {
  std::uint64_t window = 0;
  std::string path;
};

// nullopt unless the arguments (program name excluded) are exactly the five
// elements above with a window number that can name an X window, a
// compositor's container or a GNOME Shell window (decimal, 1 .. 2^63-1, the
// screen tool's window numbers) and a non-empty path.
std::optional<CaptureRequest> parseCommandLine(const std::vector<std::string>& args);

}  // namespace halvic::capture
