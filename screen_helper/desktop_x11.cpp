// The Linux desktop: windows and focus from an X server with an EWMH window
// manager, the screenshot program from beside this executable.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "desktop.h"
#include "x11_connection.h"
#include "x11_window_list.h"

#ifndef HALVIC_INSTALL_BINDIR
#define HALVIC_INSTALL_BINDIR "/usr/local/bin"
#endif

namespace halvic {
namespace {

constexpr const char* kScreenshotProgram = "halvic_screencapture";

// The directory of the running executable; both helpers and the screenshot
// program share one directory in the build tree and once installed.
std::string ownDirectory() {
  std::string path(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return HALVIC_INSTALL_BINDIR;
  path.resize(static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return HALVIC_INSTALL_BINDIR;
  return path.substr(0, slash == 0 ? 1 : slash);
}

class X11Desktop final : public Desktop {
 public:
  std::optional<FrontmostApplication> frontmostApplication() override {
    x11::Connection* c = connection();
    if (c == nullptr) return std::nullopt;
    const auto window = x11::activeWindow(*c);
    if (!window) return std::nullopt;
    const auto owner = x11::ownerOf(*c, *window);
    if (!owner) return std::nullopt;
    // An owner whose process is unknown must match none of the listed
    // windows (those without a pid read as 0), so it gets a pid no process has.
    return FrontmostApplication{owner->pid.value_or(-1), owner->name};
  }

  std::optional<std::vector<LooseValue>> windowList() override {
    x11::Connection* c = connection();
    if (c == nullptr) return std::nullopt;
    const auto windows = x11::windowsFrontToBack(*c);
    if (!windows) return std::nullopt;
    std::vector<LooseValue> records;
    for (const x11::WindowFacts& facts : x11::onScreenWindows(*c, *windows)) {
      records.emplace_back(x11::windowRecord(facts));
    }
    return records;
  }

  std::string temporaryDirectory() override {
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir != nullptr && tmpdir[0] == '/') return tmpdir;
    return "/tmp";
  }

  std::string screenshotProgramPath() override {
    std::string directory = ownDirectory();
    if (directory.back() != '/') directory += '/';
    return directory + kScreenshotProgram;
  }

 private:
  // Opened on first use and kept: the connection is not data, so keeping it
  // caches nothing the calls report.
  x11::Connection* connection() {
    if (!opened_) {
      connection_ = x11::Connection::open();
      opened_ = true;
    }
    return connection_.get();
  }

  bool opened_ = false;
  std::unique_ptr<x11::Connection> connection_;
};

}  // namespace

std::unique_ptr<Desktop> makeSystemDesktop() { return std::make_unique<X11Desktop>(); }

}  // namespace halvic
