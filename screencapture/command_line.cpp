#include "command_line.h"

#include <charconv>
#include <limits>

namespace halvic::capture {

std::optional<CaptureRequest> parseCommandLine(const std::vector<std::string>& args) {
  if (args.size() != 5 || args[0] != "-x" || args[1] != "-o" || args[2] != "-l") return std::nullopt;
  const std::string& number = args[3];
  std::uint64_t window = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), window);
  if (number.empty() || error != std::errc() || end != number.data() + number.size() || window == 0 ||
      window > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return std::nullopt;
  }
  if (args[4].empty()) return std::nullopt;
  return CaptureRequest{window, args[4]};
}

}  // namespace halvic::capture
