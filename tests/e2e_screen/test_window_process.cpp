#include "test_window_process.h"

#include <algorithm>
#include <stdexcept>

#include "x_probe.h"

namespace halvic::e2e {
namespace {

std::vector<std::string> commandLine(const std::vector<std::string>& options) {
  std::vector<std::string> argv{TEST_WINDOW_PATH};
  argv.insert(argv.end(), options.begin(), options.end());
  return argv;
}

}  // namespace

TestWindow::TestWindow(const std::vector<std::string>& options) : process_(commandLine(options)) {
  const std::string line = process_.readLine(10000);
  if (line.empty()) throw std::runtime_error("test_window did not show its window");
  id_ = std::stoul(line);
  XProbe probe;
  const bool managed = probe.waitUntil([&] {
    if (!probe.viewable(id_)) return false;
    if (!probe.windowManagerRuns()) return true;
    const auto stacking = probe.stackingBottomToTop();
    return std::find(stacking.begin(), stacking.end(), id_) != stacking.end();
  });
  if (!managed) throw std::runtime_error("the test window never came on screen");
}

}  // namespace halvic::e2e
