// What the X11 end-to-end tests stand on: X servers of their own, one session (Xvfb and openbox, DISPLAY
// pointing at it) per test process, test_window's windows, and the checks every helper run must pass.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

#include "../common/temp_dir.h"
#include "png_read.h"
#include "program_launch.h"
// Last: Xlib's macros (None, Bool) clash with GoogleTest.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace halvic::e2e {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::Launch;
using testing::readFile;
using testing::RunningProgram;
using testing::runToEnd;
using testing::TempDir;

inline bool waitUntil(const std::function<bool()>& condition, std::chrono::seconds timeout = std::chrono::seconds(5)) {
  for (const auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end;) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

// A long-lived program, and the number it prints on a line of its own once ready (into its log file).
inline std::pair<std::unique_ptr<RunningProgram>, unsigned long> startAnnouncing(Launch launch) {
  static TempDir logs;
  static int count = 0;
  launch.logFile = logs / std::to_string(++count);
  auto program = std::make_unique<RunningProgram>(launch);
  std::optional<unsigned long> number;
  waitUntil(
      [&] {
        std::istringstream lines(readFile(*launch.logFile));
        for (std::string line; !number && std::getline(lines, line) && !lines.eof();)
          if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) number = std::stoul(line);
        return number || !program->running();
      },
      std::chrono::seconds(20));
  if (!number) throw std::runtime_error(launch.argv[0] + " did not start");
  return {std::move(program), *number};
}

// Xvfb on a display nobody holds; killed at the end, its lock file and socket removed while still its own.
class XServer {
 public:
  explicit XServer(std::vector<std::string> options = {}) {
    // -noreset: a server whose last client leaves turns the next ones away while it starts over.
    options.insert(options.begin(),
                   {XVFB_PATH, "-displayfd", "1", "-screen", "0", "1600x1000x24", "-nolisten", "tcp", "-noreset"});
    unsigned long number = 0;
    std::tie(program_, number) = startAnnouncing(Launch{.argv = options});
    display_ = ":" + std::to_string(number);
  }
  ~XServer() {
    const pid_t pid = program_->pid();
    program_.reset();
    const std::string lock = "/tmp/.X" + display_.substr(1) + "-lock";
    std::error_code ignored;
    if (std::atol(readFile(lock).c_str()) != pid) return;
    fs::remove("/tmp/.X11-unix/X" + display_.substr(1), ignored);
    fs::remove(lock, ignored);
  }
  const std::string& display() const { return display_; }
  pid_t pid() const { return program_->pid(); }

 private:
  std::unique_ptr<RunningProgram> program_;
  std::string display_;
};

// The test process's own connection to $DISPLAY, deaf to X errors.
inline Display* x() {
  static Display* display = [] {
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    return XOpenDisplay(nullptr);
  }();
  return display;
}

inline Atom atom(const char* name) { return XInternAtom(x(), name, False); }

inline std::vector<unsigned long> property(Window window, const char* name, Atom type = XA_WINDOW) {
  Atom actualType = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::vector<unsigned long> items;
  if (XGetWindowProperty(x(), window, atom(name), 0, 4096, False, type, &actualType, &format, &count, &after, &data) ==
          Success &&
      data != nullptr) {
    for (unsigned long i = 0; format == 32 && i < count; ++i)
      items.push_back(static_cast<std::uint32_t>(reinterpret_cast<long*>(data)[i]));
    XFree(data);
  }
  return items;
}

inline void setProperty(Window window, const char* name, const std::vector<unsigned long>& items,
                        Atom type = XA_WINDOW) {
  std::vector<long> data(items.begin(), items.end());
  XChangeProperty(x(), window, atom(name), type, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
  XSync(x(), False);
}

inline std::vector<unsigned long> stacking() { return property(DefaultRootWindow(x()), "_NET_CLIENT_LIST_STACKING"); }
inline bool stacked(Window window) { return std::ranges::count(stacking(), window) == 1; }

inline bool windowManagerRuns() {
  const auto check = property(DefaultRootWindow(x()), "_NET_SUPPORTING_WM_CHECK");
  return !check.empty() && property(check[0], "_NET_SUPPORTING_WM_CHECK") == check;
}

inline bool viewable(Window window) {
  XWindowAttributes attributes{};
  return XGetWindowAttributes(x(), window, &attributes) && attributes.map_state == IsViewable;
}

// Asks the window manager for a change as a pager would.
inline bool xdotool(std::vector<std::string> args) {
  args.insert(args.begin(), XDOTOOL_PATH);
  return runToEnd(Launch{.argv = args}).exitCode == 0;
}

// Active, and above every other window.
inline bool activate(Window window) {
  return xdotool({"windowactivate", "--sync", std::to_string(window)}) &&
         waitUntil([&] { return stacking().back() == window; });
}

// test_window's windows, on the session's screen and managed (or on another server) while the object lives.
class TestWindow {
 public:
  explicit TestWindow(std::vector<std::string> options, const std::string& display = "") : onSession_(display.empty()) {
    options.insert(options.begin(), TEST_WINDOW_PATH);
    Launch launch{.argv = options};
    if (!onSession_) launch.environment["DISPLAY"] = display;
    std::tie(process_, id_) = startAnnouncing(launch);
    if (onSession_ &&
        !waitUntil([&] { return viewable(id_) && (!windowManagerRuns() || stacked(id_)); }, std::chrono::seconds(20)))
      throw std::runtime_error("the test window never came on screen");
  }
  ~TestWindow() {
    process_.reset();
    if (onSession_) waitUntil([&] { return !viewable(id_) && !stacked(id_); });
  }
  Window id() const { return id_; }
  pid_t pid() const { return process_->pid(); }

 private:
  bool onSession_;
  std::unique_ptr<RunningProgram> process_;
  Window id_ = None;
};

class XSession : public ::testing::Environment {
 public:
  void SetUp() override {
    server_ = std::make_unique<XServer>();
    setenv("DISPLAY", server_->display().c_str(), 1);
    // Inside a Wayland desktop, the programs would otherwise read that desktop.
    for (const char* name : {"SWAYSOCK", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"}) unsetenv(name);
    startWindowManager();
  }
  void TearDown() override {
    windowManager_.reset();
    server_.reset();
  }
  static void stopWindowManager() {
    windowManager_.reset();
    waitUntil([] { return !windowManagerRuns(); });
  }
  // Openbox is ready once it manages a window. Under load it can stall in its
  // start until some event reaches it, so the wait touches a root property.
  static void startWindowManager() {
    windowManager_ = std::make_unique<RunningProgram>(
        Launch{.argv = {OPENBOX_PATH, "--sm-disable", "--config-file", OPENBOX_CONFIG}, .logFile = "/dev/null"});
    const Window root = DefaultRootWindow(x()), probe = XCreateSimpleWindow(x(), root, 0, 0, 100, 100, 0, 0, 0);
    XMapWindow(x(), probe);
    const bool ready = waitUntil(
        [&] {
          setProperty(root, "_HALVIC_E2E_POKE", {probe}, XA_CARDINAL);
          return windowManagerRuns() && stacked(probe);
        },
        std::chrono::seconds(20));
    XDestroyWindow(x(), probe);
    XDeleteProperty(x(), root, atom("_HALVIC_E2E_POKE"));
    XSync(x(), False);
    if (!ready || !waitUntil([&] { return !stacked(probe); }))
      throw std::runtime_error("the window manager did not start");
  }

 private:
  static inline std::unique_ptr<XServer> server_;
  static inline std::unique_ptr<RunningProgram> windowManager_;
};
inline auto* const kSession = ::testing::AddGlobalTestEnvironment(new XSession);

inline Launch helperLaunch(std::vector<std::string> args, const fs::path& tmpdir,
                           const std::string& helper = SCREEN_HELPER_PATH, const std::string& display = "") {
  Launch launch{.argv = testing::helperCommand(helper, args), .environment = {{"TMPDIR", tmpdir.string()}}};
  if (!display.empty()) launch.environment["DISPLAY"] = display;
  return launch;
}

// Every helper run ends with status 0, nothing on stderr and one line on stdout, returned without its line feed.
inline std::string oneLine(const testing::Outcome& outcome) {
  EXPECT_FALSE(outcome.timedOut) << "the helper did not end";
  EXPECT_TRUE(outcome.exited) << "ended by signal " << outcome.signal;
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(outcome.out.find('\n') + 1, outcome.out.size()) << "not one line: " << outcome.out.substr(0, 400);
  return outcome.out.substr(0, outcome.out.find('\n'));
}

// The text as a result object with a boolean "ok" (else a failure, and an empty object).
inline json parsed(const std::string& text) {
  json result = json::parse(text, nullptr, false);
  if (result.is_object() && result.contains("ok") && result["ok"].is_boolean()) return result;
  ADD_FAILURE() << "not a result object: " << text.substr(0, 400);
  return json::object();
}

// Every key of `expected` has that value in `result`.
inline void expectSubset(const json& result, const json& expected) {
  for (const auto& [key, value] : expected.items())
    EXPECT_EQ(result.value(key, json()), value) << key << " in " << result.dump().substr(0, 400);
}

}  // namespace halvic::e2e
