// The screen helper and the screenshot program on one private headless sway with Xwayland and three outputs (see
// kConfig), run as an unprivileged user (sway refuses root).
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
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
using Client = std::unique_ptr<testing::RunningProgram>;
using namespace std::chrono_literals;
using namespace std::string_literals;

constexpr const char* kConfig = R"(xwayland force
output HEADLESS-1 mode 1280x800 position 0 0 scale 1
output HEADLESS-2 mode 1600x1000 position 1280 0 scale 2
output HEADLESS-3 mode 800x600 position 0 800 transform 90
for_window [app_id="."] floating enable
for_window [app_id="^tiled$"] floating disable
for_window [app_id="straddling"] move absolute position 1000 100
)";
const uid_t kUser = geteuid() == 0 ? 65534 : geteuid();

struct Session {
  fs::path base, run, home;  // run: XDG_RUNTIME_DIR; base holds bin/, the config and the log
  Env env;
  Client compositor;
  int workspaces = 10, files = 0;
} session;

template <class Ready>
bool waitFor(Ready ready, std::chrono::seconds timeout = 10s) {
  for (const auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(20ms))
    if (ready()) return true;
  return false;
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

fs::path owned(const fs::path& path) {
  if (chown(path.c_str(), kUser, kUser) != 0) throw std::runtime_error("cannot hand over " + path.string());
  return path;
}

json ask(sway::IpcMessage type, const std::string& payload = "") {
  const sway::IpcReply reply = sway::request(session.env["SWAYSOCK"], type, payload, 5s);
  if (!reply.answered) throw std::runtime_error("sway IPC: " + reply.error);
  return json::parse(reply.payload);
}

void command(const std::string& commands) {
  for (const json& result : ask(sway::IpcMessage::RunCommand, commands))
    if (!result.value("success", false)) throw std::runtime_error("sway refused " + commands + ": " + result.dump());
}

// A run as the user in the session's environment only, with `changes` (an empty value removes a name); a program
// named without a directory runs from bin/. With a `log`, it runs until finish() or its handle goes.
testing::Launch launch(std::vector<std::string> argv, Env changes = {}, std::optional<std::string> log = {}) {
  if (argv[0].find('/') == std::string::npos) argv[0] = session.base / "bin" / argv[0];
  changes.insert(session.env.begin(), session.env.end());
  std::erase_if(changes, [](const auto& entry) { return entry.second.empty(); });
  return {.argv = std::move(argv), .environment = std::move(changes), .inheritEnvironment = false, .user = kUser,
          .workingDirectory = session.home, .logFile = std::move(log)};
}

Client start(std::vector<std::string> argv, const Env& changes = {}) {
  return std::make_unique<testing::RunningProgram>(launch(std::move(argv), changes, session.base / "log"));
}

void startSession() {
  std::string pattern = (fs::temp_directory_path() / "halvic-sway-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  session.base = pattern;
  fs::permissions(session.base, fs::perms::others_exec, fs::perm_options::add);
  for (const char* directory : {"bin", "run", "home"}) fs::create_directory(session.base / directory);
  session.run = owned(session.base / "run");
  session.home = owned(session.base / "home");
  // Copies the user can run; the helper finds the screenshot program beside itself.
  for (const char* program : {COLOUR_WINDOW_PATH, TEST_WINDOW_PATH, SCREEN_HELPER_PATH, SCREENCAPTURE_PATH})
    fs::copy_file(program, session.base / "bin" / fs::path(program).filename());
  std::ofstream(session.base / "config") << kConfig;
  session.env = {{"XDG_RUNTIME_DIR", session.run}, {"HOME", session.home}, {"TMPDIR", session.home},
                 {"PATH", "/usr/bin:/bin"}};
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
    if (const char* value = std::getenv(name)) session.env[name] = value;
  session.compositor = start({SWAY_PATH, "--config", session.base / "config"},
                             {{"WLR_BACKENDS", "headless"}, {"WLR_RENDERER", "pixman"},
                              {"WLR_LIBINPUT_NO_DEVICES", "1"}, {"WLR_HEADLESS_OUTPUTS", "3"}});
  const std::string ipc = "sway-ipc." + std::to_string(kUser) + "." + std::to_string(session.compositor->pid());
  session.env["SWAYSOCK"] = session.run / (ipc + ".sock");
  const bool up = waitFor([] {
    if (!sway::compositorAnswers(session.env["SWAYSOCK"], 500ms) || ask(sway::IpcMessage::GetOutputs).size() != 3) {
      return false;
    }
    // sway sets DISPLAY in its own environment once Xwayland is ready; its `exec` children see it.
    command("exec echo \"$WAYLAND_DISPLAY $DISPLAY\" > display");
    std::this_thread::sleep_for(100ms);
    std::istringstream(slurp(session.home / "display")) >> session.env["WAYLAND_DISPLAY"] >> session.env["DISPLAY"];
    return !session.env["DISPLAY"].empty();
  }, 20s);
  if (!up) throw std::runtime_error("sway and Xwayland did not come up:\n" + slurp(session.base / "log"));
}

// The processes of this session: those whose environment names its runtime directory.
std::vector<pid_t> sessionProcesses() {
  std::vector<pid_t> found;
  const std::string marker = "XDG_RUNTIME_DIR=" + session.run.string() + '\0';
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string pid = entry.path().filename();
    if (std::isdigit(pid[0]) && slurp(entry.path() / "environ").find(marker) != std::string::npos)
      found.push_back(std::stoi(pid));
  }
  return found;
}

// Xwayland leaves neither with its compositor nor with the test process.
void endSession() {
  for (const pid_t pid : sessionProcesses()) kill(pid, SIGKILL);
  session.compositor->finish();
  std::error_code ignored;
  fs::remove_all(session.base, ignored);
}

// The node of the window whose app id or X11 class is `name`, or null.
json windowNamed(const json& tree, const std::string& name) {
  const json flat = tree.flatten();
  for (const auto& [key, value] : flat.items()) {
    const json::json_pointer at(key);
    if (value == name && key.ends_with("/app_id")) return tree.at(at.parent_pointer());
    if (value == name && key.ends_with("/window_properties/class"))
      return tree.at(at.parent_pointer().parent_pointer());
  }
  return nullptr;
}

// The container id of the window with app id or X11 class `name` once it has a content area and, for a
// colour_window, once the screen shows it.
std::int64_t window(const std::string& name) {
  std::int64_t id = -1;
  json node;
  const bool shown = waitFor([&] {
    node = windowNamed(ask(sway::IpcMessage::GetTree), name);
    id = !node.is_null() && sway::contentArea(node) ? node.at("id").get<std::int64_t>() : -1;
    return id >= 0 && (node.contains("window_properties") || fs::exists(session.run / ("colour-window-" + name)));
  });
  if (!shown) {
    throw std::runtime_error("no window " + name + " was shown; its node: " + node.dump() + "\nthe tree: " +
                             ask(sway::IpcMessage::GetTree).dump() + "\n" + slurp(session.base / "log"));
  }
  return id;
}

sway::LogicalRect area(std::int64_t id) {
  return *sway::contentArea(*sway::findNode(ask(sway::IpcMessage::GetTree), id));
}

void focus(std::int64_t id) { command("[con_id=" + std::to_string(id) + "] focus"); }

// Every output on a fresh workspace, HEADLESS-1 focused: no earlier case's window is in sight.
void freshWorkspaces() {
  for (const std::string output : {"HEADLESS-3", "HEADLESS-2", "HEADLESS-1"}) {
    command("focus output " + output + "; workspace number " + std::to_string(++session.workspaces));
  }
}

fs::path freshPath(const std::string& name) { return session.home / (std::to_string(++session.files) + "-" + name); }

Client colourWindow(const std::string& appId, int scale = 1, const std::string& size = "400x300") {
  return start({"colour_window", appId, std::to_string(scale), size, appId});
}

bool oneLine(const std::string& text) { return text.ends_with('\n') && text.find('\n') == text.size() - 1; }

// Whatever happens: one line on stdout (and in the output file when there is one), exit 0, nothing on stderr.
json helper(std::vector<std::string> args = {"capture_active_window"}, const Env& changes = {}) {
  args.insert(args.begin(), "halvic_screen_helper");
  const testing::Outcome run = testing::runToEnd(launch(args, changes));
  EXPECT_TRUE(!run.timedOut && run.exitCode == 0 && run.err.empty() && oneLine(run.out)) << run.err << run.out;
  EXPECT_TRUE(args.size() < 3 || slurp(args[2]) + "\n" == run.out) << "the output file differs";
  return json::parse(run.out, nullptr, false);
}

// A refused capture: a non-zero status, one line on stderr, and the file at `path` as it was (`before`, or none).
void expectRefused(std::int64_t id, const fs::path& path, const Env& changes = {}, const std::string& before = "") {
  const auto run = testing::runToEnd(launch({"halvic_screencapture", "-x", "-o", "-l", std::to_string(id), path}, changes));
  EXPECT_TRUE(!run.timedOut && run.exitCode != 0 && run.out.empty() && oneLine(run.err)) << run.out << run.err;
  EXPECT_EQ(fs::exists(path) ? slurp(path) : "", before);
}

// Whether `got` is what a scale-1 output shows of the scale-2 pattern's 2x2 block at even (x, y): sway 1.7 shows
// the block's top-left pixel, sway 1.10 filters (wlroots 0.18) and shows the block's mean, rounded either way.
bool shownAtHalfScale(e2e::Rgb got, std::uint32_t x, std::uint32_t y) {
  const e2e::Rgb block[] = {e2e::patternPixel(x, y), e2e::patternPixel(x + 1, y), e2e::patternPixel(x, y + 1),
                            e2e::patternPixel(x + 1, y + 1)};
  const auto mean = [&](std::uint8_t e2e::Rgb::*channel) {
    int sum = 0;
    for (const e2e::Rgb& pixel : block) sum += pixel.*channel;
    return std::abs(4 * got.*channel - sum) < 4;
  };
  return got == block[0] || (mean(&e2e::Rgb::r) && mean(&e2e::Rgb::g) && mean(&e2e::Rgb::b));
}

// A success for window `id` with owner `owner` and its content area as bounds, whose PNG (the user's, mode 0600)
// holds it at `scale` pixels per logical unit; with a `seam`, it shows the client's pattern (the capture copies the
// screen's region: another window over it would show), left of `seam` at half the scale: each pixel the output
// shows enlarged to a 2x2 block of one colour.
void expectCaptured(const json& result, std::int64_t id, const std::string& owner, int scale,
                    std::optional<std::uint32_t> seam = 0) {
  EXPECT_EQ(result.value("ok", false), true) << result;
  EXPECT_EQ(result.value("owner_name", ""), owner);
  const sway::LogicalRect rect = area(id);
  EXPECT_EQ(result.value("bounds", json()), (json{{"x", rect.x}, {"y", rect.y}, {"width", rect.width}, {"height", rect.height}}));
  const std::string path = result.value("image_path", "");
  struct stat info {};
  EXPECT_TRUE(stat(path.c_str(), &info) == 0 && (info.st_mode & 0777) == 0600 && info.st_uid == kUser) << path;
  const auto png = e2e::readPng(path);
  ASSERT_TRUE(png && png->width == rect.width * scale && png->height == rect.height * scale) << path;
  std::size_t wrong = 0;
  for (std::uint32_t y = 0; seam && y < png->height; ++y) {
    for (std::uint32_t x = 0; x < png->width; ++x) {
      const e2e::Rgb got = png->at(x, y), corner = png->at(x & ~1u, y & ~1u);
      const bool right = x >= *seam ? got == e2e::patternPixel(x, y)
                                    : got == corner && shownAtHalfScale(got, x & ~1u, y & ~1u);
      wrong += right ? 0 : 1;
    }
  }
  EXPECT_EQ(wrong, 0u) << path;
}

// The focused window among those on all outputs, exactly at its output's scale, upright from the turned output
// whose buffer holds it turned, with its title as written; then a window across two outputs, at the larger scale:
// exact on the scale-2 side, each scale-1 pixel enlarged to a 2x2 block on the other.
TEST(WaylandScreenHelper, TakesTheFocusedWindowOnAnyOutputAtItsScale) {
  const std::string outputs[] = {"HEADLESS-1", "HEADLESS-2", "HEADLESS-3"}, title = "Çalışma ağı — öğrenci notları İĞÜŞÖÇ";
  std::vector<Client> clients;
  std::vector<std::int64_t> ids;
  freshWorkspaces();
  for (int i = 0; i < 3; ++i) {
    command("focus output " + outputs[i]);
    clients.push_back(start({"colour_window", outputs[i], i == 1 ? "2" : "1", "400x300", i == 0 ? title : outputs[i]}));
    ids.push_back(window(outputs[i]));
  }
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(outputs[i]);
    focus(ids[i]);
    const json result = helper({"capture_active_window", freshPath("deep/result.json")});
    expectCaptured(result, ids[i], outputs[i], i == 1 ? 2 : 1);
    EXPECT_EQ(result.value("window_title", ""), i == 0 ? title : outputs[i]);
  }
  clients.push_back(colourWindow("straddling", 2));
  const std::int64_t id = window("straddling");
  const sway::LogicalRect rect = area(id);
  ASSERT_TRUE(rect.x < 1280 && rect.x + rect.width > 1280) << rect.x << " " << rect.width;
  focus(id);
  expectCaptured(helper(), id, "straddling", 2, static_cast<std::uint32_t>(1280 - rect.x) * 2);
}

// Floating windows lie above tiled ones: when the focused window is too small to qualify, the fallback takes the
// floating window, not the tiled one.
TEST(WaylandScreenHelper, FloatingWindowsComeFirstAndATooSmallFocusedWindowFallsBack) {
  freshWorkspaces();
  const Client clients[] = {colourWindow("tiled"), colourWindow("float-big", 1, "500x400"),
                            colourWindow("float-tiny", 1, "70x50")};
  const std::int64_t tiled = window("tiled"), floating = window("float-big"), tiny = window("float-tiny");
  ASSERT_LT(area(tiny).width, 80);
  const std::pair<std::int64_t, std::int64_t> cases[] = {{tiled, tiled}, {floating, floating}, {tiny, floating}};
  for (const auto& [focused, expected] : cases) {
    SCOPED_TRACE(focused);
    focus(focused);
    expectCaptured(helper(), expected, expected == tiled ? "tiled" : "float-big", 1, std::nullopt);
  }
}

// Through the compositor's IPC an Xwayland window is one more window, named by its X11 class. Without that IPC (a
// Wayland session of some other compositor) the X server's stacking order says nothing about what the user sees:
// only the X window that has the focus may be reported.
TEST(WaylandScreenHelper, XwaylandWindowsByIpcAndOnlyTheFocusedOneWithout) {
  freshWorkspaces();
  const Client x = start({"test_window", "--title=X pencere", "--class=XClient", "--size=300x200"});
  const std::int64_t xId = window("XClient");
  for (const Env& changes : {Env{}, Env{{"SWAYSOCK", ""}}}) {
    const json result = helper({"capture_active_window"}, changes);
    if (changes.empty()) expectCaptured(result, xId, "XClient", 1);
    EXPECT_EQ(result.value("owner_name", ""), "XClient") << result;
    EXPECT_EQ(result.value("window_title", ""), "X pencere");
  }
  const Client native = colourWindow("native");
  focus(window("native"));
  EXPECT_EQ(helper({"capture_active_window"}, {{"SWAYSOCK", ""}}).value("error", ""), "no_active_window");
}

// A window on a workspace that no output shows is never reported nor captured, even when every visible workspace
// is empty; and neither is a container that is no window, nor a window onto a file that is already there.
TEST(WaylandScreencapture, RefusesWhatItCannotCaptureTruthfully) {
  freshWorkspaces();
  const Client hidden = colourWindow("hidden");
  const std::int64_t hiddenId = window("hidden"), workspace = ask(sway::IpcMessage::GetWorkspaces).at(0).at("id");
  freshWorkspaces();
  EXPECT_EQ(helper(), (json{{"ok", false}, {"error", "no_active_window"}, {"owner_name", ""},
                            {"detail", "Aktif pencere bulunamadi. Hedef pencereyi one alip tekrar dene."}}));
  const Client shown = colourWindow("shown");
  const std::pair<std::int64_t, std::string> cases[] = {
      {999999, ""}, {workspace, ""}, {hiddenId, ""}, {window("shown"), "keep me"}};
  for (const auto& [id, before] : cases) {
    SCOPED_TRACE(id);
    const fs::path path = freshPath("shot.png");
    if (!before.empty()) std::ofstream(path) << before;
    if (!before.empty()) owned(path);  // the user may write it: only the program's own care keeps it
    expectRefused(id, path, {}, before);
  }
}

// A socket that takes connections into its backlog and says nothing unless the test does: a Wayland display hung
// in its main loop, or a compositor that stops answering.
struct Mute {
  const fs::path path;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  explicit Mute(const std::string& name) : path(session.run / name) {
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    path.string().copy(address.sun_path, sizeof address.sun_path - 1);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 8) != 0)
      throw std::runtime_error("cannot listen at " + path.string());
    fs::permissions(path, fs::perms::all);
  }
  ~Mute() { close(fd); }  // the socket file goes with the session
  int next(int milliseconds) const {
    pollfd ready{fd, POLLIN, 0};
    return poll(&ready, 1, milliseconds) > 0 ? accept4(fd, nullptr, nullptr, SOCK_CLOEXEC) : -1;
  }
};

// A compositor and its Xwayland that stop answering cost bounded time: the helper still prints its line (with and
// without the compositor's IPC), a capture fails.
TEST(WaylandHangs, AProcessThatStopsAnsweringCostsBoundedTime) {
  freshWorkspaces();
  const Client client = colourWindow("frozen");
  const std::int64_t id = window("frozen");
  {
    const std::vector<pid_t> pids = sessionProcesses();  // sway, Xwayland and the window
    const std::shared_ptr<void> thaw(nullptr, [&](void*) {
      for (const pid_t pid : pids) kill(pid, SIGCONT);
    });
    for (const pid_t pid : pids) ASSERT_EQ(kill(pid, SIGSTOP), 0);
    EXPECT_EQ(helper().value("ok", true), false);
    EXPECT_EQ(helper({"capture_active_window"}, {{"SWAYSOCK", ""}}).value("error", ""), "no_active_window");
    expectRefused(id, freshPath("shot.png"));
  }
  {
    SCOPED_TRACE("its IPC answers, its Wayland display does not");
    const Mute display("silent-0");
    expectRefused(id, freshPath("shot.png"), {{"WAYLAND_DISPLAY", "silent-0"}});
  }
  {
    SCOPED_TRACE("it answers the version probe, then nothing");
    const Mute ipc("stalling.sock");
    int probe = -1, held = -1;
    std::jthread compositor([&] {
      const std::string version = "i3-ipc\x1f\0\0\0\x07\0\0\0{\"major\":1,\"minor\":7,\"patch\":0}"s;  // 31 bytes, type 7
      probe = ipc.next(5000);
      send(probe, version.data(), version.size(), MSG_NOSIGNAL);
      held = ipc.next(5000);  // the layout request
    });
    EXPECT_EQ(helper({"capture_active_window"}, {{"SWAYSOCK", ipc.path}}).value("error", ""), "no_active_window");
    compositor.join();
    EXPECT_GE(held, 0);
    close(probe);
    close(held);
  }
  {
    SCOPED_TRACE("a run that asks nothing about windows talks to no window system");
    const Mute ipc("unasked.sock");
    EXPECT_EQ(helper({"capture_screen"}, {{"SWAYSOCK", ipc.path}}).value("error", ""), "unsupported_mode");
    EXPECT_EQ(ipc.next(0), -1);
  }
}

}  // namespace
}  // namespace halvic::wayland

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  halvic::wayland::startSession();
  const int status = RUN_ALL_TESTS();
  halvic::wayland::endSession();
  return status;
}
