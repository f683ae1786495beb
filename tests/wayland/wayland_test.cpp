// The screenshot program and the screen helper on one private headless sway with Xwayland, run as an unprivileged
// user (sway refuses root). HEADLESS-1: 1280x800 at scale 1; HEADLESS-2: 1600x1000 at scale 2 to its right (800x500
// logical units); HEADLESS-3: 800x600 turned by 90 degrees below the first (600x800 logical units). Every case
// starts on fresh workspaces, so earlier cases' windows are out of sight.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "png_read.h"
#include "program_launch.h"
#include "sway_ipc.h"
#include "sway_tree.h"

namespace halvic::wayland {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using Env = std::map<std::string, std::string>;
using namespace std::chrono_literals;
using namespace std::string_literals;

constexpr const char* kConfig = R"(xwayland force
output HEADLESS-1 mode 1280x800 position 0 0 scale 1
output HEADLESS-2 mode 1600x1000 position 1280 0 scale 2
output HEADLESS-3 mode 800x600 position 0 800 transform 90
for_window [app_id="^float-"] floating enable
for_window [app_id="straddling"] floating enable, move absolute position 1000 100
)";
constexpr const char* kOutputs[] = {"HEADLESS-1", "HEADLESS-2", "HEADLESS-3"};

template <class Ready>
bool waitFor(Ready ready, std::chrono::seconds timeout = 10s) {
  for (const auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(20ms)) {
    if (ready()) return true;
  }
  return false;
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

void chownTo(const fs::path& path, uid_t user) {
  if (chown(path.c_str(), user, user) != 0) throw std::runtime_error("cannot hand over " + path.string());
}

const json* windowNamed(const json& node, const std::string& name) {
  if (node.value("app_id", json()) == name || node.value("window_properties", json::object()).value("class", json()) == name) {
    return &node;
  }
  for (const char* children : {"nodes", "floating_nodes"}) {
    if (!node.contains(children)) continue;
    for (const json& child : node.at(children)) {
      if (const json* found = windowNamed(child, name)) return found;
    }
  }
  return nullptr;
}

class Sway {
 public:
  const uid_t user = geteuid() == 0 ? 65534 : geteuid();

  Sway() {
    std::string pattern = (fs::temp_directory_path() / "halvic-sway-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    base_ = pattern;
    fs::permissions(base_, fs::perms::others_exec, fs::perm_options::add);
    fs::create_directory(base_ / "bin");
    // Copies the user can run; the helper finds the screenshot program beside itself.
    for (const char* program : {COLOUR_WINDOW_PATH, TEST_WINDOW_PATH, SCREEN_HELPER_PATH, SCREENCAPTURE_PATH}) {
      fs::copy_file(program, base_ / "bin" / fs::path(program).filename());
    }
    for (const fs::path& directory : {run(), home()}) {
      fs::create_directory(directory);
      chownTo(directory, user);
    }
    std::ofstream(base_ / "config") << kConfig;
    env_ = {{"XDG_RUNTIME_DIR", run()}, {"HOME", home()}, {"TMPDIR", home()}, {"PATH", "/usr/bin:/bin"}};
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
      if (const char* value = std::getenv(name)) env_[name] = value;
    }
    testing::Launch compositor = launch({SWAY_PATH, "--config", base_ / "config"});
    compositor.environment.insert({{"WLR_BACKENDS", "headless"}, {"WLR_RENDERER", "pixman"},
                                   {"WLR_LIBINPUT_NO_DEVICES", "1"}, {"WLR_HEADLESS_OUTPUTS", "3"}});
    compositor.logFile = base_ / "log";
    sway_ = std::make_unique<testing::RunningProgram>(compositor);
    env_["SWAYSOCK"] = run() / ("sway-ipc." + std::to_string(user) + "." + std::to_string(pid()) + ".sock");
    bool up = waitFor([&] {
      for (const auto& entry : fs::directory_iterator(run())) {
        const std::string name = entry.path().filename();
        if (name.starts_with("wayland-") && entry.is_socket()) env_["WAYLAND_DISPLAY"] = name;
      }
      return env_.contains("WAYLAND_DISPLAY") && sway::compositorAnswers(env_["SWAYSOCK"], 500ms) &&
             ask(sway::IpcMessage::GetOutputs).size() == 3;
    }, 20s);
    // sway sets DISPLAY in its own environment once Xwayland is ready; its `exec` children see it.
    up = up && waitFor([&] {
      command("exec echo \"$DISPLAY\" > " + (run() / "display").string());
      std::this_thread::sleep_for(100ms);
      std::istringstream(slurp(run() / "display")) >> env_["DISPLAY"];
      return !env_["DISPLAY"].empty();
    }, 20s);
    if (!up) throw std::runtime_error("sway and Xwayland did not come up:\n" + slurp(base_ / "log"));
  }

  ~Sway() {
    kill(pid(), SIGTERM);  // Xwayland and the clients leave with it
    sway_->finish(5s);
    std::error_code ignored;
    fs::remove_all(base_, ignored);
  }

  pid_t pid() const { return sway_->pid(); }
  fs::path run() const { return base_ / "run"; }
  fs::path home() const { return base_ / "home"; }
  const Env& environment() const { return env_; }

  json ask(sway::IpcMessage type, const std::string& payload = "") const {
    const sway::IpcReply reply = sway::request(env_.at("SWAYSOCK"), type, payload, 5s);
    if (!reply.answered) throw std::runtime_error("sway IPC: " + reply.error);
    return json::parse(reply.payload);
  }

  void command(const std::string& commands) const {
    for (const json& result : ask(sway::IpcMessage::RunCommand, commands)) {
      if (!result.value("success", false)) throw std::runtime_error("sway refused " + commands + ": " + result.dump());
    }
  }

  // A run as the user in the session's environment only; a program named without a directory runs from bin/.
  testing::Launch launch(std::vector<std::string> argv) const {
    if (argv[0].find('/') == std::string::npos) argv[0] = base_ / "bin" / argv[0];
    testing::Launch launch;
    launch.argv = std::move(argv);
    launch.environment = env_;
    launch.inheritEnvironment = false;
    launch.user = user;
    launch.workingDirectory = home();
    return launch;
  }

  // A client that stays until the handle goes; its output goes to sway's log.
  std::unique_ptr<testing::RunningProgram> client(std::vector<std::string> argv) const {
    testing::Launch launch = this->launch(std::move(argv));
    launch.logFile = base_ / "log";
    return std::make_unique<testing::RunningProgram>(launch);
  }

  // The container id of the window with app id or X11 class `name` once it has a content area and, for a
  // colour_window, once the screen shows it at that size: a capture then finds it as the tree describes it.
  std::int64_t window(const std::string& name) const {
    std::int64_t id = -1;
    const bool shown = waitFor([&] {
      const json tree = ask(sway::IpcMessage::GetTree);
      const json* node = windowNamed(tree, name);
      const auto area = node ? sway::contentArea(*node) : std::nullopt;
      if (!area) return false;
      id = node->at("id");
      return node->contains("window_properties") ||
             slurp(run() / ("colour-window-" + name)) == std::to_string(area->width) + "x" + std::to_string(area->height);
    });
    if (!shown) throw std::runtime_error("no window " + name + " was shown:\n" + slurp(base_ / "log"));
    return id;
  }

  sway::LogicalRect area(std::int64_t id) const {
    const json tree = ask(sway::IpcMessage::GetTree);
    return *sway::contentArea(*sway::findNode(tree, id));
  }

  // Every output on a fresh workspace, `focused` last.
  void freshWorkspaces(const std::string& focused = "HEADLESS-1") {
    std::string commands;
    for (const std::string output : {"HEADLESS-2", "HEADLESS-3", "HEADLESS-1"}) {
      if (output != focused) commands += "focus output " + output + "; workspace number " + std::to_string(++workspace_) + "; ";
    }
    command(commands + "focus output " + focused + "; workspace number " + std::to_string(++workspace_));
  }

  // A path in a fresh directory of the user's.
  fs::path freshPath(const std::string& name) {
    const fs::path directory = home() / std::to_string(++files_);
    fs::create_directory(directory);
    chownTo(directory, user);
    return directory / name;
  }

 private:
  fs::path base_;  // bin/, run/ (XDG_RUNTIME_DIR), home/, config, log
  Env env_;
  std::unique_ptr<testing::RunningProgram> sway_;
  int workspace_ = 10, files_ = 0;
};

Sway* session = nullptr;
Sway& sway() { return *session; }

std::unique_ptr<testing::RunningProgram> colourWindow(const std::string& appId, int scale = 1,
                                                       const std::string& size = "400x300", const std::string& title = "") {
  std::vector<std::string> argv{"colour_window", appId, std::to_string(scale), size};
  if (!title.empty()) argv.push_back(title);
  return sway().client(argv);
}

testing::Outcome runAsUser(std::vector<std::string> argv, const Env& changes = {}) {
  testing::Launch launch = sway().launch(std::move(argv));
  for (const auto& [name, value] : changes) launch.environment[name] = value;
  std::erase_if(launch.environment, [](const auto& entry) { return entry.second.empty(); });
  return testing::runToEnd(launch, 30s);
}

// Whatever happens: one line on stdout, the output file's content when there is one, exit 0, nothing on stderr.
json helper(std::vector<std::string> args = {"capture_active_window"}, const Env& changes = {}) {
  args.insert(args.begin(), "halvic_screen_helper");
  const testing::Outcome run = runAsUser(args, changes);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(run.out.ends_with('\n') && run.out.find('\n') == run.out.size() - 1) << run.out;
  EXPECT_TRUE(args.size() < 3 || slurp(args[2]) + "\n" == run.out) << "the output file differs";
  return json::parse(run.out, nullptr, false);
}

testing::Outcome capture(std::int64_t window, const fs::path& path, const Env& changes = {}) {
  return runAsUser({"halvic_screencapture", "-x", "-o", "-l", std::to_string(window), path}, changes);
}

// A refusal: a non-zero status, one line on stderr, and the file at `path` as it was (`before`, or none).
void expectRefused(const testing::Outcome& run, const fs::path& path, const std::string& before = "") {
  EXPECT_FALSE(run.timedOut);
  EXPECT_NE(run.exitCode, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(run.err.ends_with('\n') && run.err.find('\n') == run.err.size() - 1) << run.err;
  EXPECT_EQ(fs::exists(path) ? slurp(path) : "", before);
}

std::size_t patternMismatches(const e2e::DecodedPng& png, std::uint32_t x0 = 0) {
  std::size_t wrong = 0;
  for (std::uint32_t y = 0; y < png.height; ++y) {
    for (std::uint32_t x = x0; x < png.width; ++x) wrong += png.at(x, y) == e2e::patternPixel(x, y) ? 0 : 1;
  }
  return wrong;
}

// The PNG at `path`, the user's with mode 0600, holds `area` at `scale` pixels per logical unit.
std::optional<e2e::DecodedPng> shot(const fs::path& path, const sway::LogicalRect& area, int scale) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(info.st_uid, sway().user);
  auto png = e2e::readPng(path);
  if (!png || png->width != area.width * scale || png->height != area.height * scale) {
    ADD_FAILURE() << path << " is not a PNG of " << area.width << "x" << area.height << " at scale " << scale;
    return std::nullopt;
  }
  return png;
}

// A success for window `id` with owner `owner` and its content area as bounds; its PNG is the client's pattern,
// pixel for pixel, unless another window may lie over it (the capture copies the screen's region).
void expectCaptured(const json& result, std::int64_t id, const std::string& owner, int scale = 1, bool exact = true) {
  ASSERT_EQ(result.value("ok", false), true) << result;
  EXPECT_EQ(result.value("owner_name", ""), owner);
  const sway::LogicalRect area = sway().area(id);
  EXPECT_EQ(result.value("bounds", json()), (json{{"x", area.x}, {"y", area.y}, {"width", area.width}, {"height", area.height}}));
  const auto png = shot(result.value("image_path", ""), area, scale);
  EXPECT_EQ(png && exact ? patternMismatches(*png) : 0, 0u);
}

// The focused window among those on all outputs, exactly at its output's scale, upright from the turned output
// whose buffer holds it turned; its title as written, and the output file beside the line.
TEST(WaylandScreenHelper, TakesTheFocusedWindowOnAnyOutputAtItsScale) {
  const std::string title = "Çalışma ağı — öğrenci notları İĞÜŞÖÇ";
  std::vector<std::unique_ptr<testing::RunningProgram>> clients;
  std::vector<std::int64_t> ids;
  sway().freshWorkspaces();
  for (int i = 0; i < 3; ++i) {
    sway().command("focus output "s + kOutputs[i]);
    clients.push_back(colourWindow(kOutputs[i], i == 1 ? 2 : 1, "400x300", i == 0 ? title : kOutputs[i]));
    ids.push_back(sway().window(kOutputs[i]));
  }
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(kOutputs[i]);
    sway().command("[con_id=" + std::to_string(ids[i]) + "] focus");
    const json result = helper({"capture_active_window", sway().freshPath("deep/result.json")});
    expectCaptured(result, ids[i], kOutputs[i], i == 1 ? 2 : 1);
    EXPECT_EQ(result.value("window_title", ""), i == 0 ? title : kOutputs[i]);
  }
}

// Floating windows lie above tiled ones: when the focused window is too small to qualify, the fallback takes the
// floating window, not the tiled one.
TEST(WaylandScreenHelper, FloatingWindowsComeFirstAndATooSmallFocusedWindowFallsBack) {
  sway().freshWorkspaces();
  auto tiled = colourWindow("tiled");
  sway().window("tiled");
  auto floating = colourWindow("float-big", 1, "500x400");
  const std::int64_t floatingId = sway().window("float-big");
  auto tiny = colourWindow("float-tiny", 1, "70x50");
  const std::int64_t tinyId = sway().window("float-tiny");
  const std::int64_t tiledId = sway().window("tiled");
  ASSERT_LT(sway().area(tinyId).width, 80);
  const struct {
    std::int64_t focus, expected;
    const char* owner;
  } cases[] = {{tiledId, tiledId, "tiled"}, {floatingId, floatingId, "float-big"}, {tinyId, floatingId, "float-big"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.focus);
    sway().command("[con_id=" + std::to_string(c.focus) + "] focus");
    expectCaptured(helper(), c.expected, c.owner, 1, /*exact=*/false);
  }
}

// A window on a workspace that no output shows is never reported nor captured, even when every visible workspace
// is empty; and neither is a container that is no window, nor one onto a file that is already there.
TEST(WaylandScreencapture, RefusesWhatItCannotCaptureTruthfully) {
  sway().freshWorkspaces();
  auto hidden = colourWindow("hidden");
  const std::int64_t hiddenId = sway().window("hidden");
  const std::int64_t workspaceId = sway().ask(sway::IpcMessage::GetWorkspaces).at(0).at("id");
  sway().freshWorkspaces();
  EXPECT_EQ(helper(), (json{{"ok", false}, {"error", "no_active_window"}, {"owner_name", ""},
                            {"detail", "Aktif pencere bulunamadi. Hedef pencereyi one alip tekrar dene."}}));
  auto shown = colourWindow("shown");
  const std::int64_t shownId = sway().window("shown");
  const std::pair<std::int64_t, std::string> cases[] = {{999999, ""}, {workspaceId, ""}, {hiddenId, ""}, {shownId, "keep me"}};
  for (const auto& [id, before] : cases) {
    SCOPED_TRACE(id);
    const fs::path path = sway().freshPath("shot.png");
    if (!before.empty()) {
      std::ofstream(path) << before;
      chownTo(path, sway().user);  // the user may write it: only the program's own care keeps it
    }
    expectRefused(capture(id, path), path, before);
  }
}

// A window across both outputs comes out at the larger scale: exact pixels on the scale-2 side, each scale-1
// pixel enlarged to a 2x2 block on the other.
TEST(WaylandScreencapture, AWindowAcrossOutputsTakesTheLargerScale) {
  sway().freshWorkspaces();
  auto client = colourWindow("straddling", 2);
  const std::int64_t id = sway().window("straddling");
  const sway::LogicalRect area = sway().area(id);
  ASSERT_TRUE(area.x < 1280 && area.x + area.width > 1280) << area.x << " " << area.width;
  const fs::path path = sway().freshPath("shot.png");
  const testing::Outcome run = capture(id, path);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const auto png = shot(path, area, 2);
  ASSERT_TRUE(png.has_value());
  const auto seam = static_cast<std::uint32_t>(1280 - area.x) * 2;
  EXPECT_EQ(patternMismatches(*png, seam), 0u);
  std::size_t unlikeBlocks = 0, blackBlocks = 0;
  for (std::uint32_t y = 0; y + 1 < png->height; y += 2) {
    for (std::uint32_t x = 0; x + 1 < seam; x += 2) {
      const e2e::Rgb p = png->at(x, y);
      unlikeBlocks += p == png->at(x + 1, y) && p == png->at(x, y + 1) && p == png->at(x + 1, y + 1) ? 0 : 1;
      blackBlocks += p == e2e::Rgb{0, 0, 0} ? 1 : 0;
    }
  }
  EXPECT_EQ(unlikeBlocks, 0u);
  EXPECT_LT(blackBlocks, std::size_t{seam} * png->height / 8);
}

// Through the compositor's IPC an Xwayland window is one more window, named by its X11 class. Without that IPC (a
// Wayland session of some other compositor) the X server's stacking order says nothing about what the user sees:
// only the X window that has the focus may be reported.
TEST(WaylandScreenHelper, XwaylandWindowsByIpcAndOnlyTheFocusedOneWithout) {
  sway().freshWorkspaces();
  auto x = sway().client({"test_window", "--title=X pencere", "--class=XClient", "--size=300x200"});
  const std::int64_t xId = sway().window("XClient");
  auto wayland = colourWindow("native");
  const std::int64_t waylandId = sway().window("native");
  sway().command("[con_id=" + std::to_string(xId) + "] focus");
  json result = helper();
  expectCaptured(result, xId, "XClient");
  EXPECT_EQ(result.value("window_title", ""), "X pencere");
  result = helper({"capture_active_window"}, {{"SWAYSOCK", ""}});
  EXPECT_EQ(result.value("owner_name", ""), "XClient") << result;
  EXPECT_EQ(result.value("window_title", ""), "X pencere");
  sway().command("[con_id=" + std::to_string(waylandId) + "] focus");
  EXPECT_EQ(helper({"capture_active_window"}, {{"SWAYSOCK", ""}}).value("error", ""), "no_active_window");
}

// A socket that takes every connection and never says a word, except to answer a sway IPC version probe: a
// Wayland display hung in its main loop, or a compositor that stops answering after the probe.
class Mute {
 public:
  explicit Mute(const std::string& name) : path_(sway().run() / name) {
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    path_.string().copy(address.sun_path, sizeof address.sun_path - 1);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 8) != 0 ||
        chmod(path_.c_str(), 0777) != 0) {
      throw std::runtime_error("cannot listen at " + path_.string());
    }
    thread_ = std::jthread([this](std::stop_token stop) {
      while (!stop.stop_requested()) {
        pollfd ready{listener_, POLLIN, 0};
        if (poll(&ready, 1, 50) > 0) serve(accept(listener_, nullptr, nullptr));
      }
    });
  }
  ~Mute() {
    thread_ = {};
    for (int fd : held_) close(fd);
    close(listener_);
    unlink(path_.c_str());
  }
  const fs::path& path() const { return path_; }
  int connections() const { return connections_; }

 private:
  void serve(int fd) {
    ++connections_;
    const timeval patience{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    char head[14] = {};
    std::uint32_t type = 0;
    if (recv(fd, head, sizeof head, MSG_WAITALL) == sizeof head) std::memcpy(&type, head + 10, 4);
    if (std::string_view(head, 6) != "i3-ipc" || type != 7) return held_.push_back(fd);
    const std::string body = R"({"major":1,"minor":7,"patch":0,"human_readable":"1.7"})";
    const auto size = static_cast<std::uint32_t>(body.size());
    std::string reply = "i3-ipc";
    reply.append(reinterpret_cast<const char*>(&size), 4).append(reinterpret_cast<const char*>(&type), 4) += body;
    send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
    close(fd);
  }

  fs::path path_;
  int listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  std::atomic<int> connections_{0};
  std::vector<int> held_;
  std::jthread thread_;
};

struct Thaw {
  pid_t pid;
  ~Thaw() { kill(pid, SIGCONT); }
};

// A compositor that stops answering costs bounded time: the helper still prints its line, the capture fails.
TEST(WaylandHangs, ACompositorThatStopsAnsweringCostsBoundedTime) {
  sway().freshWorkspaces();
  auto client = colourWindow("frozen");
  const std::int64_t id = sway().window("frozen");
  {
    ASSERT_EQ(kill(sway().pid(), SIGSTOP), 0);
    const Thaw thaw{sway().pid()};
    EXPECT_EQ(helper().value("ok", true), false);
    const fs::path path = sway().freshPath("shot.png");
    expectRefused(capture(id, path), path);
  }
  {
    SCOPED_TRACE("its IPC answers, its Wayland display does not");
    Mute display("silent-0");
    const fs::path path = sway().freshPath("shot.png");
    expectRefused(capture(id, path, {{"WAYLAND_DISPLAY", "silent-0"}}), path);
  }
  {
    SCOPED_TRACE("it answers the version probe, then nothing");
    Mute ipc("stalling.sock");
    EXPECT_EQ(helper({"capture_active_window"}, {{"SWAYSOCK", ipc.path()}}).value("error", ""), "no_active_window");
    EXPECT_GE(ipc.connections(), 2);
  }
  {
    SCOPED_TRACE("a run that asks nothing about windows talks to no window system");
    Mute ipc("unasked.sock");
    EXPECT_EQ(helper({"capture_screen"}, {{"SWAYSOCK", ipc.path()}}).value("error", ""), "unsupported_mode");
    EXPECT_EQ(ipc.connections(), 0);
  }
}

// Xwayland that stops answering (it does when its compositor freezes) must not hold the helper in a Wayland
// session it reads through the X server.
TEST(WaylandHangs, AFrozenXwaylandStillGetsALine) {
  sway().freshWorkspaces();
  const std::string display = sway().environment().at("DISPLAY");
  pid_t xwayland = -1;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string cmdline = slurp(entry.path() / "cmdline");
    if (fs::path(cmdline.c_str()).filename() == "Xwayland" && cmdline.find('\0' + display + '\0') != std::string::npos) {
      xwayland = std::stoi(entry.path().filename());
    }
  }
  ASSERT_GT(xwayland, 0);
  ASSERT_EQ(kill(xwayland, SIGSTOP), 0);
  const Thaw thaw{xwayland};
  EXPECT_EQ(helper({"capture_active_window"}, {{"SWAYSOCK", ""}}).value("error", ""), "no_active_window");
}

}  // namespace
}  // namespace halvic::wayland

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  halvic::wayland::Sway session;
  halvic::wayland::session = &session;
  return RUN_ALL_TESTS();
}
