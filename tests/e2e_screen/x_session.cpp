#include "x_session.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "x_probe.h"

namespace halvic::e2e {

std::unique_ptr<LiveChild> XSession::server_;
std::unique_ptr<LiveChild> XSession::windowManager_;
std::string XSession::display_;

namespace {

// True once `pid` listens on the local socket of display `number`: the socket
// is found in the kernel's table and among the process's open files. This
// tells our server from anybody else's that holds the same number.
bool listensOnDisplay(pid_t pid, int number) {
  const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
  std::ifstream table("/proc/net/unix");
  std::string line;
  std::set<std::string> inodes;
  while (std::getline(table, line)) {
    const std::size_t at = line.find(path);
    if (at == std::string::npos || at + path.size() != line.size()) continue;
    std::istringstream fields(line);
    std::string field;
    for (int i = 0; i < 7 && fields >> field; ++i) {
    }
    inodes.insert("socket:[" + field + "]");
  }
  const std::filesystem::path fds = "/proc/" + std::to_string(pid) + "/fd";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(fds, error)) {
    std::error_code ignored;
    if (inodes.count(std::filesystem::read_symlink(entry.path(), ignored).string())) return true;
  }
  return false;
}

}  // namespace

std::unique_ptr<LiveChild> startXServer(const std::vector<std::string>& options, std::string& display) {
  // Xvfb on an explicit display takes a lock file and gives up when the
  // number is taken; whether it came up shows by its socket. Numbers start at
  // a pid-dependent point so parallel tests rarely meet.
  const std::string geometry = std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24";
  static int attempts = 0;
  for (int tries = 0; tries < 50; ++tries, ++attempts) {
    const int number = 100 + static_cast<int>((getpid() + attempts * 7) % 800);
    std::vector<std::string> argv{XVFB_PATH, ":" + std::to_string(number), "-screen", "0", geometry, "-nolisten", "tcp",
                                  "-noreset"};  // a reset between clients turns the next ones away
    argv.insert(argv.end(), options.begin(), options.end());
    auto server = std::make_unique<LiveChild>(argv, true);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline && server->running()) {
      if (listensOnDisplay(server->pid(), number)) {
        display = ":" + std::to_string(number);
        return server;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  throw std::runtime_error("Xvfb did not start");
}

void XSession::SetUp() {
  server_ = startXServer({}, display_);
  setenv("DISPLAY", display_.c_str(), 1);
  // Run from inside a Wayland desktop, the programs would otherwise read that
  // desktop (its compositor's IPC, or only Xwayland's focused window).
  for (const char* name : {"SWAYSOCK", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"}) unsetenv(name);
  startWindowManager();
}

void XSession::TearDown() {
  if (windowManager_) windowManager_->terminate();
  windowManager_.reset();
  if (server_) server_->terminate();
  server_.reset();
}

const std::string& XSession::display() { return display_; }

void XSession::stopWindowManager() {
  if (windowManager_) windowManager_->terminate();
  windowManager_.reset();
  XProbe probe;
  probe.waitUntil([&] { return !probe.windowManagerRuns(); });
}

void XSession::startWindowManager() {
  windowManager_ = std::make_unique<LiveChild>(
      std::vector<std::string>{OPENBOX_PATH, "--sm-disable", "--config-file", OPENBOX_CONFIG}, true);
  // Openbox names its check window early in its start; it is ready once it
  // manages a window. Under load it can stall in its start until some event
  // reaches it, so the wait touches a root property meanwhile.
  XProbe probe;
  Display* d = probe.display();
  const Window root = DefaultRootWindow(d);
  const Atom poke = XInternAtom(d, "_HALVIC_E2E_POKE", False);
  const Window window = XCreateSimpleWindow(d, root, 0, 0, 100, 100, 0, 0, 0);
  XMapWindow(d, window);
  const bool ready = probe.waitUntil([&] {
    XChangeProperty(d, root, poke, XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&window), 1);
    XSync(d, False);
    const auto stacking = probe.stackingBottomToTop();
    return probe.windowManagerRuns() && std::find(stacking.begin(), stacking.end(), window) != stacking.end();
  });
  XDestroyWindow(d, window);
  XDeleteProperty(d, root, poke);
  XSync(d, False);
  const bool probeGone = probe.waitUntil([&] {
    const auto stacking = probe.stackingBottomToTop();
    return std::find(stacking.begin(), stacking.end(), window) == stacking.end();
  });
  if (!ready || !probeGone) {
    throw std::runtime_error("the window manager did not start");
  }
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  const char* old = getenv(name);
  had_ = old != nullptr;
  if (had_) old_ = old;
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (had_) {
    setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

}  // namespace halvic::e2e
