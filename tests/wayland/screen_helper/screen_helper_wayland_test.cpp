// The screen helper on a headless sway (HEADLESS-1 at scale 1, HEADLESS-2 at
// scale 2 to its right) with Xwayland: the window it picks among tiled,
// floating, hidden and other outputs' windows, what it reports, the PNG and
// the output file; and in a Wayland session without the compositor's IPC,
// only the X window that has the focus.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "png_read.h"
#include "sway_session.h"
#include "sway_tree.h"

namespace halvic::wayland {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const SwayOptions kDesktop{{{1280, 800, 1, 0, 0}, {1600, 1000, 2, 1280, 0}}, true};

SwaySession& sway() { return SwaySessionEnvironment::session(); }

// Both outputs on fresh workspaces, `focused` last, so earlier tests'
// windows are out of sight.
void freshWorkspaces(const std::string& focused = "HEADLESS-1") {
  static int next = 10;
  const std::string other = focused == "HEADLESS-1" ? "HEADLESS-2" : "HEADLESS-1";
  sway().command("focus output " + other + "; workspace number " + std::to_string(++next));
  sway().command("focus output " + focused + "; workspace number " + std::to_string(++next));
}

// The helper and its screenshot program side by side where the desktop's
// user can run them (the helper finds the program beside itself).
fs::path programCopy(const char* program) {
  static const fs::path directory = [] {
    const fs::path made = sway().userDirectory();
    for (const char* original : {SCREEN_HELPER_PATH, SCREENCAPTURE_PATH}) {
      const fs::path copy = made / fs::path(original).filename();
      fs::copy_file(original, copy);
      fs::permissions(copy, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    }
    fs::permissions(made, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    return made;
  }();
  return directory / fs::path(program).filename();
}

struct HelperRun {
  testing::Outcome outcome;
  json result;
};

// One run as the desktop's user; `withoutIpc` leaves SWAYSOCK out, as in a
// Wayland session whose compositor does not speak sway's IPC.
HelperRun runHelper(const std::string& outputPath = "", bool withoutIpc = false,
                    const std::string& ipcSocket = "", const std::string& mode = "capture_active_window") {
  std::vector<std::string> argv{"/usr/bin/env", programCopy(SCREEN_HELPER_PATH).string(), mode};
  if (!outputPath.empty()) argv.push_back(outputPath);
  testing::Launch launch = sway().launch(argv);
  if (withoutIpc) launch.environment.erase("SWAYSOCK");
  if (!ipcSocket.empty()) launch.environment["SWAYSOCK"] = ipcSocket;
  launch.environment["TMPDIR"] = sway().userDirectory().string();  // the PNGs go with the session
  HelperRun run{testing::runToEnd(launch, std::chrono::seconds(30)), {}};
  EXPECT_FALSE(run.outcome.timedOut);
  EXPECT_EQ(run.outcome.exitCode, 0);
  EXPECT_EQ(run.outcome.err, "");
  EXPECT_TRUE(!run.outcome.out.empty() && run.outcome.out.find('\n') == run.outcome.out.size() - 1)
      << run.outcome.out;
  run.result = json::parse(run.outcome.out, nullptr, false);
  return run;
}

sway::LogicalRect contentAreaOf(std::int64_t id) {
  const auto tree = sway().tree();
  return *sway::contentArea(*sway::findNode(tree, id));
}

json boundsOf(const sway::LogicalRect& area) {
  return {{"x", area.x}, {"y", area.y}, {"width", area.width}, {"height", area.height}};
}

std::unique_ptr<testing::RunningProgram> colourWindow(const std::string& appId, const std::string& title = "",
                                                       int scale = 1, const std::string& size = "400x300") {
  std::vector<std::string> argv{COLOUR_WINDOW_PATH, "--app-id=" + appId, "--scale=" + std::to_string(scale),
                                "--size=" + size};
  if (!title.empty()) argv.push_back("--title=" + title);
  return sway().startClient(argv);
}

// The success result for window `id` with owner `owner`; the PNG holds the
// window at `scale` pixels per logical unit, and when no other window lies
// over it (the capture copies the screen's region), exactly as the client drew it.
void expectCaptured(const HelperRun& run, std::int64_t id, const std::string& owner, int scale = 1,
                    bool overlapped = false) {
  ASSERT_EQ(run.result.value("ok", false), true) << run.outcome.out;
  EXPECT_EQ(run.result["owner_name"], owner);
  const sway::LogicalRect area = contentAreaOf(id);
  EXPECT_EQ(run.result["bounds"], boundsOf(area));
  const auto png = e2e::readPng(run.result["image_path"].get<std::string>());
  ASSERT_TRUE(png.has_value());
  ASSERT_EQ(png->width, area.width * scale);
  ASSERT_EQ(png->height, area.height * scale);
  if (overlapped) return;
  // Every test window shows the test pattern, pixel for pixel.
  std::size_t wrong = 0;
  for (std::uint32_t y = 0; y < png->height; ++y) {
    for (std::uint32_t x = 0; x < png->width; ++x) wrong += png->at(x, y) == e2e::patternPixel(x, y) ? 0 : 1;
  }
  EXPECT_EQ(wrong, 0u);
}

TEST(WaylandScreenHelper, CapturesTheFocusedTiledWindowWithItsTurkishTitleIntoTheOutputFile) {
  freshWorkspaces();
  const std::string title = "Çalışma ağı — öğrenci notları İĞÜŞÖÇ";
  auto worked = colourWindow("worked", title);
  const std::int64_t workedId = sway().waitForColourWindow("worked");
  auto newer = colourWindow("newer", "later window");
  sway().waitForColourWindow("newer");
  sway().command("[con_id=" + std::to_string(workedId) + "] focus");
  const fs::path output = sway().userDirectory() / "deep" / "result.json";

  const HelperRun run = runHelper(output.string());
  expectCaptured(run, workedId, "worked");
  EXPECT_EQ(run.result["window_title"], title);
  std::ifstream file(output);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}) + "\n", run.outcome.out);
}

// Floating windows lie above tiled ones: when the focused window is too small
// to qualify, the fallback takes the floating window, not the tiled one.
TEST(WaylandScreenHelper, FloatingWindowsComeFirstAndATooSmallFocusedWindowFallsBack) {
  freshWorkspaces();
  sway().command("for_window [app_id=\"^float-\"] floating enable");
  auto tiled = colourWindow("tiled");
  sway().waitForColourWindow("tiled");
  auto floating = colourWindow("float-big", "", 1, "500x400");
  const std::int64_t floatingId = sway().waitForColourWindow("float-big");
  auto tiny = colourWindow("float-tiny", "", 1, "70x50");
  const std::int64_t tinyId = sway().waitForColourWindow("float-tiny");
  const auto tinyArea = contentAreaOf(tinyId);
  ASSERT_TRUE(tinyArea.width < 80 || tinyArea.height < 60);
  const std::int64_t tiledId = sway().waitForColourWindow("tiled");

  const struct {
    const char* what;
    std::int64_t focus;
    std::int64_t expected;
    const char* owner;
  } cases[] = {
      {"the focused tiled window", tiledId, tiledId, "tiled"},
      {"the focused floating window", floatingId, floatingId, "float-big"},
      {"too small: the frontmost qualifying window, floating", tinyId, floatingId, "float-big"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sway().command("[con_id=" + std::to_string(c.focus) + "] focus");
    expectCaptured(runHelper(), c.expected, c.owner, 1, /*overlapped=*/true);
  }
}

// A window on a workspace that no output shows is never reported, even when
// every visible workspace is empty.
TEST(WaylandScreenHelper, EmptyVisibleWorkspacesHideWindowsElsewhere) {
  freshWorkspaces();
  auto hidden = colourWindow("hidden");
  sway().waitForColourWindow("hidden");
  freshWorkspaces();

  const HelperRun run = runHelper();
  EXPECT_EQ(run.result,
            (json{{"ok", false},
                  {"error", "no_active_window"},
                  {"detail", "Aktif pencere bulunamadi. Hedef pencereyi one alip tekrar dene."},
                  {"owner_name", ""}}));
}

TEST(WaylandScreenHelper, TakesTheFocusedWindowOnEitherOutputAtThatOutputsScale) {
  freshWorkspaces("HEADLESS-2");
  auto right = colourWindow("right", "", 2);
  const std::int64_t rightId = sway().waitForColourWindow("right");
  sway().command("focus output HEADLESS-1");
  auto left = colourWindow("left");
  const std::int64_t leftId = sway().waitForColourWindow("left");

  expectCaptured(runHelper(), leftId, "left", 1);
  sway().command("[con_id=" + std::to_string(rightId) + "] focus");
  const HelperRun run = runHelper();
  expectCaptured(run, rightId, "right", 2);
  EXPECT_GE(run.result["bounds"]["x"].get<double>(), 1280);  // global logical coordinates
}

// Xwayland inside sway: through the compositor's IPC an X window is one more
// window, named by its X11 class. Without that IPC (a Wayland session of some
// other compositor) the X server's stacking order says nothing about what the
// user sees: only the X window that has the focus may be reported.
TEST(WaylandScreenHelper, XwaylandWindowsByIpcAndOnlyTheFocusedOneWithout) {
  freshWorkspaces();
  auto x = sway().startClient({TEST_WINDOW_PATH, "--title=X pencere", "--class=XClient", "--size=300x200"});
  const std::int64_t xId = sway().waitForWindow("XClient");
  auto wayland = colourWindow("native");
  const std::int64_t waylandId = sway().waitForColourWindow("native");

  sway().command("[con_id=" + std::to_string(xId) + "] focus");
  HelperRun run = runHelper();
  expectCaptured(run, xId, "XClient");
  EXPECT_EQ(run.result["window_title"], "X pencere");

  run = runHelper("", /*withoutIpc=*/true);
  EXPECT_EQ(run.result.value("owner_name", ""), "XClient") << run.outcome.out;
  EXPECT_EQ(run.result.value("window_title", ""), "X pencere") << run.outcome.out;

  sway().command("[con_id=" + std::to_string(waylandId) + "] focus");
  run = runHelper("", /*withoutIpc=*/true);
  EXPECT_EQ(run.result.value("error", ""), "no_active_window") << run.outcome.out;
}

// A compositor that stops answering costs bounded time: still one line, exit 0.
TEST(WaylandScreenHelper, AFrozenCompositorStillGetsALine) {
  freshWorkspaces();
  auto window = colourWindow("frozen");
  sway().waitForColourWindow("frozen");
  struct Thaw {
    ~Thaw() { kill(sway().pid(), SIGCONT); }
  } thaw;
  ASSERT_EQ(kill(sway().pid(), SIGSTOP), 0);
  const HelperRun run = runHelper();
  EXPECT_EQ(run.result.value("ok", true), false) << run.outcome.out;
}

// The session's Xwayland: the one serving its DISPLAY (other sessions may
// run on this machine).
pid_t xwaylandPid() {
  const std::string display = sway().environment().at("DISPLAY");
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::ifstream cmdline(entry.path() / "cmdline");
    std::vector<std::string> args;
    for (std::string arg; std::getline(cmdline, arg, '\0');) args.push_back(arg);
    if (!args.empty() && fs::path(args[0]).filename() == "Xwayland" &&
        std::find(args.begin(), args.end(), display) != args.end()) {
      return static_cast<pid_t>(std::stoi(entry.path().filename().string()));
    }
  }
  return -1;
}

// Xwayland that stops answering (it does when its compositor freezes) must
// not hold the helper in a Wayland session it reads through the X server.
TEST(WaylandScreenHelper, AFrozenXwaylandStillGetsALine) {
  freshWorkspaces();
  auto window = colourWindow("beside-frozen-x");
  sway().waitForColourWindow("beside-frozen-x");
  const pid_t xwayland = xwaylandPid();
  ASSERT_GT(xwayland, 0);
  struct Thaw {
    pid_t pid;
    ~Thaw() { kill(pid, SIGCONT); }
  } thaw{xwayland};
  ASSERT_EQ(kill(xwayland, SIGSTOP), 0);
  const HelperRun run = runHelper("", /*withoutIpc=*/true);
  EXPECT_EQ(run.result.value("error", ""), "no_active_window") << run.outcome.out;
}

// A compositor that answers the version probe and then never the layout
// request: it holds every other request's connection open without a word.
class StallingCompositor {
 public:
  explicit StallingCompositor(const fs::path& path) : path_(path) {
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 8) != 0) {
      throw std::runtime_error("cannot listen at " + path.string());
    }
    fs::permissions(path, fs::perms::all);
    thread_ = std::thread([this] { serve(); });
  }
  ~StallingCompositor() {
    stop_ = true;
    thread_.join();
    for (int fd : held_) close(fd);
    close(listener_);
  }
  int connections() const { return connections_; }

 private:
  void serve() {
    while (!stop_) {
      pollfd ready{listener_, POLLIN, 0};
      if (poll(&ready, 1, 50) <= 0) continue;
      const int connection = accept(listener_, nullptr, nullptr);
      if (connection < 0) continue;
      ++connections_;
      char head[14];
      std::uint32_t size = 0, type = 0;
      if (recv(connection, head, sizeof head, MSG_WAITALL) == sizeof head) {
        std::memcpy(&size, head + 6, 4);
        std::memcpy(&type, head + 10, 4);
      }
      if (type == 7) {  // version
        const std::string body = R"({"major":1,"minor":7,"patch":0,"human_readable":"1.7"})";
        const auto length = static_cast<std::uint32_t>(body.size());
        std::string reply = "i3-ipc";
        reply.append(reinterpret_cast<const char*>(&length), 4).append(reinterpret_cast<const char*>(&type), 4);
        reply += body;
        EXPECT_EQ(send(connection, reply.data(), reply.size(), MSG_NOSIGNAL), static_cast<ssize_t>(reply.size()));
        close(connection);
      } else {
        held_.push_back(connection);
      }
    }
  }

  fs::path path_;
  int listener_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::vector<int> held_;
  std::thread thread_;
};

TEST(WaylandScreenHelper, ACompositorThatStopsAnsweringAfterTheProbeCostsBoundedTime) {
  const fs::path directory = sway().userDirectory();
  fs::permissions(directory, fs::perms::others_exec, fs::perm_options::add);
  StallingCompositor stalling(directory / "stalling.sock");
  const HelperRun run = runHelper("", false, (directory / "stalling.sock").string());
  EXPECT_EQ(run.result.value("error", ""), "no_active_window") << run.outcome.out;
  EXPECT_GE(stalling.connections(), 2);  // the probe, then the layout request
}

// A run that asks nothing about windows talks to no window system at all.
TEST(WaylandScreenHelper, AnUnsupportedModeAsksTheCompositorNothing) {
  const fs::path directory = sway().userDirectory();
  fs::permissions(directory, fs::perms::others_exec, fs::perm_options::add);
  StallingCompositor stalling(directory / "unasked.sock");
  const HelperRun run = runHelper("", false, (directory / "unasked.sock").string(), "capture_screen");
  EXPECT_EQ(run.result.value("error", ""), "unsupported_mode") << run.outcome.out;
  EXPECT_EQ(stalling.connections(), 0);
}

}  // namespace
}  // namespace halvic::wayland

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new halvic::wayland::SwaySessionEnvironment(halvic::wayland::kDesktop));
  return RUN_ALL_TESTS();
}
