// The screen helper and the screenshot program on a private headless KWin (Plasma 5.27 or 6) with Xwayland, as
// installed by `cmake --install` (into a folder whose name has a blank) and authorised by the installed .desktop file.
// One KWin serves every case but the scale-2 one, which needs an output KWin makes at scale 2 from the start.
//
// KWin offers window captures (org.kde.KWin.ScreenShot2) only when it composites with OpenGL. Where it does not (a
// machine without a GPU or DRM device, where KWin 6 draws with QPainter), the cases check everything but the pixels:
// which window the helper takes, its owner, title and bounds, and that the screenshot program, having found the
// window, says that KWin offers no capture.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "desktop_kwin.h"
#include "kwin_session.h"
#include "kwin_windows.h"
#include "png_read.h"
#include "program_launch.h"
#include "window_list_script.h"

namespace halvic::kwintest {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using Env = std::map<std::string, std::string>;
using Client = std::unique_ptr<testing::RunningProgram>;
using namespace std::chrono_literals;

struct Placed {
  int x, y, width, height;
};

fs::path root;       // holds the installation, the scripts and each session's folders
fs::path installed;  // the installed programs' folder
int counter = 0;

std::string slurp(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

template <class Ready>
bool waitFor(Ready ready, std::chrono::milliseconds timeout = 10s) {
  for (const auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(20ms)) {
    if (ready()) return true;
  }
  return false;
}

fs::path fresh(const std::string& name) { return root / (std::to_string(++counter) + "-" + name); }

// A private session bus, a headless KWin on it with Xwayland, and the environment its clients get.
struct Session {
  fs::path base;
  Env env;
  Client bus, kwin;

  explicit Session(int scale) {
    base = fresh("session");
    for (const char* directory : {"home", "run"}) fs::create_directories(base / directory);
    fs::permissions(base / "run", fs::perms::owner_all, fs::perm_options::replace);
    // The packaged binary carries a file capability that a container's bounding set may lack; a copy has none.
    fs::copy_file(KWIN_WAYLAND_PATH, base / "kwin_wayland");
    std::ofstream(base / "session.sh") << "#!/bin/sh\necho \"$DISPLAY\" > '" << (base / "display").string() << "'\n";
    fs::permissions(base / "session.sh", fs::perms::owner_all);
    const std::string busAddress = "unix:path=" + (base / "run" / "bus").string();
    env = {{"HOME", base / "home"}, {"XDG_RUNTIME_DIR", base / "run"}, {"TMPDIR", base / "home"},
           {"PATH", "/usr/bin:/bin"}, {"DBUS_SESSION_BUS_ADDRESS", busAddress},
           {"XDG_DATA_DIRS", (installed / "share").string() + ":/usr/local/share:/usr/share"}};
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
      if (const char* value = std::getenv(name)) env[name] = value;
    }
    bus = start({DBUS_DAEMON_PATH, "--session", "--nofork", "--nopidfile", "--print-address=1",
                 "--address=" + busAddress});
    if (!waitFor([&] { return slurp(base / "log").find(busAddress) != std::string::npos; }))
      throw std::runtime_error("the bus did not start:\n" + slurp(base / "log"));
    env["WAYLAND_DISPLAY"] = "halvic-kwin";
    kwin = start({base / "kwin_wayland", "--virtual", "--xwayland", "--no-lockscreen", "--no-global-shortcuts",
                  "--no-kactivities", "--socket", "halvic-kwin", "--width", "1280", "--height", "800", "--scale",
                  std::to_string(scale), base / "session.sh"},
                 {{"XDG_SESSION_TYPE", "wayland"}});
    // KWin starts the session program once Xwayland is up; its DISPLAY says which KWin chose.
    if (!waitFor([&] { return !slurp(base / "display").empty(); }, 30s))
      throw std::runtime_error("KWin and Xwayland did not come up:\n" + slurp(base / "log"));
    std::istringstream(slurp(base / "display")) >> env["DISPLAY"];
    baseline = loadedScripts();
    std::string compositing = call("/Compositor", "org.freedesktop.DBus.Properties.Get",
                                   {"org.kde.kwin.Compositing", "compositingType"});  // (<'gl2'>,)
    compositing = compositing.substr(compositing.find('\'') + 1);
    compositing = compositing.substr(0, compositing.find('\''));
    const testing::Outcome screenshot = testing::runToEnd(
        launch({GDBUS_PATH, "introspect", "--session", "--dest", "org.kde.KWin", "--object-path",
                "/org/kde/KWin/ScreenShot2"}));
    captures = screenshot.out.find("interface org.kde.KWin.ScreenShot2") != std::string::npos;
    if (compositing.starts_with("gl") && !captures)
      throw std::runtime_error("KWin composites with OpenGL and offers no window capture");
    std::printf("%s, compositing %s, window captures %s\n", version().c_str(), compositing.c_str(),
                captures ? "offered" : "not offered");
  }

  // Xwayland and the clients leave neither with KWin nor with the test.
  ~Session() {
    for (const auto& entry : fs::directory_iterator("/proc")) {
      const std::string pid = entry.path().filename();
      if (std::isdigit(pid[0]) && slurp(entry.path() / "environ").find("XDG_RUNTIME_DIR=" + (base / "run").string() + '\0') != std::string::npos)
        kill(std::stoi(pid), SIGKILL);
    }
  }

  testing::Launch launch(std::vector<std::string> argv, Env changes = {}, std::optional<std::string> log = {}) {
    changes.insert(env.begin(), env.end());
    std::erase_if(changes, [](const auto& entry) { return entry.second.empty(); });
    return {.argv = std::move(argv), .environment = std::move(changes), .inheritEnvironment = false,
            .workingDirectory = base / "home", .logFile = std::move(log)};
  }

  Client start(std::vector<std::string> argv, const Env& changes = {}) {
    return std::make_unique<testing::RunningProgram>(launch(std::move(argv), changes, base / "log"));
  }

  // A method of KWin's at `path`, its reply as gdbus prints it.
  std::string call(const std::string& path, const std::string& method, std::vector<std::string> args = {}) {
    args.insert(args.begin(), {GDBUS_PATH, "call", "--session", "--dest", "org.kde.KWin", "--object-path", path,
                               "--timeout", "5", "--method", method});
    const testing::Outcome run = testing::runToEnd(launch(std::move(args)));
    if (run.exitCode != 0) throw std::runtime_error("gdbus: " + run.err);
    return run.out;
  }

  std::string gdbus(std::vector<std::string> args) {
    const std::string method = args.front();
    args.erase(args.begin());
    return call("/Scripting", method, std::move(args));
  }

  std::string version() {
    const testing::Outcome run = testing::runToEnd(launch({base / "kwin_wayland", "--version"}));
    return run.out.substr(0, run.out.find('\n'));
  }

  // How many scripts KWin holds: the id it gives one more (it numbers them by count).
  int loadedScripts() {
    const fs::path probe = fresh("probe.js");
    std::ofstream{probe};
    const std::string id = gdbus({"org.kde.kwin.Scripting.loadScript", probe, "halvic-test-probe"});
    gdbus({"org.kde.kwin.Scripting.unloadScript", "halvic-test-probe"});
    return std::stoi(id.substr(id.find('(') + 1));
  }

  // Runs `body` in KWin, and returns once it has run: it unloads itself at its end. At hand, for Plasma 5.27's
  // scripting API and 6's alike: byCaption(caption), activate(window), toSecondDesktop(window) and oneDesktop().
  void script(const std::string& body) {
    const std::string name = "halvic-test-" + std::to_string(++counter);
    const fs::path file = fresh("script.js");
    std::ofstream(file) << R"(
function byCaption(c) {
  var l = workspace.windowList ? workspace.windowList() : workspace.clientList();
  for (var i = 0; i < l.length; ++i) if (l[i].caption === c) return l[i];
  return null;
}
function activate(w) {
  if (workspace.activeWindow !== undefined) workspace.activeWindow = w; else workspace.activeClient = w;
}
function toSecondDesktop(w) {
  if (typeof w.desktop === 'number') { workspace.desktops = 2; w.desktop = 2; return; }
  if (workspace.desktops.length < 2) workspace.createDesktop(1, 'two');
  w.desktops = [workspace.desktops[1]];
}
function oneDesktop() {
  if (typeof workspace.desktops === 'number') { workspace.desktops = 1; return; }
  while (workspace.desktops.length > 1) workspace.removeDesktop(workspace.desktops[workspace.desktops.length - 1]);
}
)" << body << "\ncallDBus('org.kde.KWin', '/Scripting', 'org.kde.kwin.Scripting', 'unloadScript', '"
                        << name << "');\n";
    gdbus({"org.kde.kwin.Scripting.loadScript", file, name});
    gdbus({"org.kde.kwin.Scripting.start"});
    if (!waitFor([&] { return gdbus({"org.kde.kwin.Scripting.isScriptLoaded", name}) == "(false,)\n"; }, 5s))
      throw std::runtime_error("KWin did not run " + body);
  }

  void place(const std::string& caption, int x, int y) {
    script("var w = byCaption('" + caption + "'); w.frameGeometry = {x: " + std::to_string(x) + ", y: " +
           std::to_string(y) + ", width: w.frameGeometry.width, height: w.frameGeometry.height};");
  }

  void activate(const std::string& caption) { script("activate(byCaption('" + caption + "'));"); }

  // A Wayland window of WxH logical pixels drawn at `scale`, shown at (x, y): the test pattern from its corner.
  Client waylandWindow(const std::string& appId, const std::string& caption, Placed at, int scale = 1) {
    Client client = start({COLOUR_WINDOW_PATH, appId, std::to_string(scale),
                           std::to_string(at.width) + "x" + std::to_string(at.height), caption});
    if (!waitFor([&] { return fs::exists(base / "run" / ("colour-window-" + appId)); }))
      throw std::runtime_error("no window " + caption + ":\n" + slurp(base / "log"));
    place(caption, at.x, at.y);
    return client;
  }

  Client x11Window(const std::string& caption, const std::string& windowClass, Placed at) {
    Client client = start({TEST_WINDOW_PATH, "--title=" + caption, "--class=" + windowClass,
                           "--size=" + std::to_string(at.width) + "x" + std::to_string(at.height)});
    // It prints its window's id once mapped; KWin manages it a moment later.
    if (!waitFor([&] { return windowCount(caption) > 0; }))
      throw std::runtime_error("no window " + caption);
    place(caption, at.x, at.y);
    return client;
  }

  // Windows with this caption, as our own listing reports them (0 when it fails).
  int windowCount(const std::string& caption) {
    const auto list = windowList();
    return list ? static_cast<int>(std::count_if(list->windows.begin(), list->windows.end(),
                                                 [&](const kwin::Window& w) { return w.caption == caption; }))
                : 0;
  }

  // The window list as our script reports it, read in this process with the session's environment.
  std::optional<kwin::WindowList> windowList(std::string_view scriptTemplate = kwin::windowListScript(),
                                             std::chrono::milliseconds timeout = 2s) {
    for (const char* name : {"WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"})
      setenv(name, env[name].c_str(), 1);
    auto kwin = kwin::findSessionKWin(kwin::Clock::now() + 2s);
    if (!kwin) return std::nullopt;
    const auto report = kwin::runWindowListScript(*kwin, scriptTemplate, kwin::Clock::now() + timeout);
    return report ? kwin::parseWindowList(*report) : std::nullopt;
  }

  std::uint32_t numberOf(const std::string& caption) {
    const auto list = windowList();
    const auto found = list ? std::find_if(list->windows.begin(), list->windows.end(),
                                           [&](const kwin::Window& w) { return w.caption == caption; })
                            : std::vector<kwin::Window>::const_iterator();
    if (list && found != list->windows.end()) return kwin::windowNumber(found->uuid);
    throw std::runtime_error("no window " + caption);
  }

  int baseline = 0;
  bool captures = false;  // KWin offers window captures (ScreenShot2)
};

std::unique_ptr<Session> session;

bool oneLine(const std::string& text) { return text.ends_with('\n') && text.find('\n') == text.size() - 1; }

// Whatever happens: one line on stdout (and in the output file when there is one), exit 0, nothing on stderr; and no
// script of ours is left in KWin.
json helper(Session& s, const std::vector<std::string>& args = {}, const Env& changes = {},
            const fs::path& program = installed / INSTALL_EXECDIR / "halvic_screen_helper") {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  const testing::Outcome run = testing::runToEnd(s.launch(argv, changes));
  EXPECT_TRUE(!run.timedOut && run.exitCode == 0 && run.err.empty() && oneLine(run.out)) << run.err << run.out;
  EXPECT_TRUE(args.size() < 2 || slurp(args[1]) + "\n" == run.out) << "the output file differs";
  EXPECT_EQ(s.loadedScripts(), s.baseline) << "a script was left loaded";
  return json::parse(run.out, nullptr, false);
}

// The screenshot program's refusal: a non-zero status, one line on stderr that holds `reason`, no file.
void expectRefused(Session& s, std::uint32_t number, const std::string& reason) {
  const fs::path path = fresh("refused.png");
  const auto run = testing::runToEnd(s.launch({installed / INSTALL_EXECDIR / "halvic_screencapture", "-x", "-o", "-l",
                                               std::to_string(number), path}));
  EXPECT_TRUE(!run.timedOut && run.exitCode != 0 && run.out.empty() && oneLine(run.err)) << run.out << run.err;
  EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(s.loadedScripts(), s.baseline) << "a script was left loaded";
}

// The helper took the window placed at `at`. Where KWin offers captures: a success whose PNG (mode 0600) shows the
// test pattern at `scale` pixels per logical one, its own pixels whatever lies over it. Where it offers none: the
// same window named in the failure that says so, and its bounds as our script lists them.
void expectCaptured(Session& s, const json& result, const std::string& owner, const std::string& title, Placed at,
                    int scale = 1) {
  if (!s.captures) {
    EXPECT_EQ(result.value("error", ""), "capture_failed") << result;
    EXPECT_EQ(result.value("owner_name", ""), owner);
    EXPECT_EQ(result.value("window_title", ""), title);
    EXPECT_NE(result.value("detail", "").find("KWin offers no window capture"), std::string::npos) << result;
    const auto list = s.windowList();
    ASSERT_TRUE(list.has_value());
    const auto window = std::find_if(list->windows.begin(), list->windows.end(),
                                     [&](const kwin::Window& w) { return w.caption == title; });
    ASSERT_TRUE(window != list->windows.end() && window->area) << title;
    const kwin::Area& area = *window->area;
    EXPECT_EQ((std::vector<double>{area.x, area.y, area.width, area.height}),
              (std::vector<double>{double(at.x), double(at.y), double(at.width), double(at.height)}));
    return;
  }
  ASSERT_EQ(result.value("ok", false), true) << result;
  EXPECT_EQ(result.value("owner_name", ""), owner);
  EXPECT_EQ(result.value("window_title", ""), title);
  EXPECT_EQ(result.value("bounds", json()), (json{{"x", at.x}, {"y", at.y}, {"width", at.width}, {"height", at.height}}));
  const std::string path = result.value("image_path", "");
  struct stat info {};
  EXPECT_TRUE(stat(path.c_str(), &info) == 0 && (info.st_mode & 0777) == 0600) << path;
  const auto png = e2e::readPng(path);
  ASSERT_TRUE(png && png->width == static_cast<std::uint32_t>(at.width * scale) &&
              png->height == static_cast<std::uint32_t>(at.height * scale)) << path;
  std::size_t wrong = 0;
  for (std::uint32_t y = 0; y < png->height; ++y) {
    for (std::uint32_t x = 0; x < png->width; ++x) wrong += png->at(x, y) == e2e::patternPixel(x, y) ? 0 : 1;
  }
  EXPECT_EQ(wrong, 0u) << path;
}

// The focused window, a Wayland one and an Xwayland one, each with its title as written and the result also in a
// file whose folders do not exist yet; then a window that another one, kept above it, covers: its own pixels.
TEST(KWinScreenHelper, CapturesTheFocusedWindowWithItsOwnPixels) {
  Session& s = *session;
  struct Case {
    std::string title, owner;
    bool wayland;
    Placed at;
  };
  const Case cases[] = {{"Çalışma ağı — öğrenci notları İĞÜŞÖÇ", "org.example.Notes", true, {100, 80, 400, 300}},
                        {"X pencere ı", "xclient", false, {300, 200, 320, 200}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    const Client client = c.wayland ? s.waylandWindow(c.owner, c.title, c.at) : s.x11Window(c.title, c.owner, c.at);
    s.activate(c.title);
    const fs::path output = fresh("deep") / "er" / "result.json";
    expectCaptured(s, helper(s, {"capture_active_window", output}), c.owner, c.title, c.at);
  }
  const Client covered = s.waylandWindow("covered", "covered", {200, 150, 400, 300});
  const Client cover = s.waylandWindow("cover", "cover", {260, 190, 400, 300});
  s.script("byCaption('cover').keepAbove = true;");
  s.activate("covered");
  expectCaptured(s, helper(s), "covered", "covered", {200, 150, 400, 300});
}

// A focused window too small to qualify falls back to the frontmost window that does, not one behind it; windows
// above it that are minimized or on another desktop are passed over, and the screenshot program refuses them without
// asking KWin.
TEST(KWinScreenHelper, FallsBackPastMinimizedAndOtherDesktopWindows) {
  Session& s = *session;
  const Client behind = s.waylandWindow("behind", "behind", {40, 40, 500, 400});
  const Client visible = s.waylandWindow("visible", "visible", {50, 50, 500, 400});
  const Client minimized = s.waylandWindow("minimized", "minimized", {60, 60, 500, 400});
  const Client elsewhere = s.waylandWindow("elsewhere", "elsewhere", {70, 70, 500, 400});
  const Client tiny = s.waylandWindow("tiny", "tiny", {700, 500, 70, 50});
  s.script("toSecondDesktop(byCaption('elsewhere')); byCaption('minimized').minimized = true;");
  s.activate("tiny");
  expectCaptured(s, helper(s), "visible", "visible", {50, 50, 500, 400});
  for (const char* hidden : {"minimized", "elsewhere"}) {
    SCOPED_TRACE(hidden);
    expectRefused(s, s.numberOf(hidden), "is not on screen");
  }
  expectRefused(s, kwin::windowNumber("{00000000-0000-0000-0000-000000000000}"), "no window");
  s.script("oneDesktop();");
}

// The installed .desktop file names the installed program by its final path (quoted, for the blank in it), and a
// staged install (DESTDIR) writes the same path without the staging root. Where KWin offers captures, a copy it does
// not know of, the build tree's, is refused, and the helper reports that refusal as a permission.
TEST(KWinScreenHelper, OnlyTheInstalledProgramIsAuthorised) {
  Session& s = *session;
  const std::string program = (installed / INSTALL_EXECDIR / "halvic_screencapture").string();
  const std::string file = slurp(installed / "share/applications/halvic-screencapture.desktop");
  EXPECT_NE(file.find("\nExec=\"" + program + "\"\n"), std::string::npos) << file;
  EXPECT_NE(file.find("\nNoDisplay=true\n"), std::string::npos) << file;
  const fs::path stage = fresh("stage");
  const auto staged = testing::runToEnd({.argv = {CMAKE_PATH, "--install", BUILD_DIRECTORY, "--prefix", "/opt/halvic"},
                                         .environment = {{"DESTDIR", stage}}});
  ASSERT_EQ(staged.exitCode, 0) << staged.out << staged.err;
  const std::string stagedFile = slurp(stage / "opt/halvic/share/applications/halvic-screencapture.desktop");
  EXPECT_NE(stagedFile.find("\nExec=/opt/halvic/" INSTALL_EXECDIR "/halvic_screencapture\n"), std::string::npos)
      << stagedFile;
  if (!s.captures) GTEST_SKIP() << "KWin offers no window captures here, so it refuses none";

  const Client client = s.waylandWindow("unauthorised", "unauthorised", {100, 100, 300, 200});
  s.activate("unauthorised");
  const json refused = helper(s, {}, {}, SCREEN_HELPER_PATH);
  EXPECT_EQ(refused.value("error", ""), "permission_denied") << refused;
  EXPECT_NE(refused.value("detail", "").find("permission"), std::string::npos) << refused;
}

// A window on an output of scale 2 comes at that scale: twice its logical size, each buffer pixel as drawn.
TEST(KWinScreenHelper, CapturesAtTheOutputsScale) {
  if (!session->captures) GTEST_SKIP() << "KWin offers no window captures here";
  Session scaled(2);
  const Client client = scaled.waylandWindow("scaled", "scaled", {100, 100, 400, 300}, 2);
  scaled.activate("scaled");
  expectCaptured(scaled, helper(scaled), "scaled", "scaled", {100, 100, 400, 300}, 2);
}

// A script of ours that never reports (it throws, does not parse, or says nothing) costs one bounded wait and is
// unloaded all the same; a report that is not a window list is no list.
TEST(KWinHangs, AScriptThatNeverReportsCostsBoundedTime) {
  Session& s = *session;
  const std::string silent[] = {"throw new Error('broken');", "this is not JavaScript (", "var quiet = 1;",
                                "callDBus('@REPLY_SERVICE@', '/org/halvic/WindowList', 'org.halvic.WindowList',"
                                " 'Report', 'not json');"};
  for (const std::string& body : silent) {
    SCOPED_TRACE(body);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(s.windowList(body, 1s).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    EXPECT_EQ(s.loadedScripts(), s.baseline);
  }
  ASSERT_TRUE(s.windowList().has_value()) << "the real script reports";
}

// A frozen KWin costs the helper and the screenshot program bounded time, and a KWin that wakes up again is left
// with no script of ours.
TEST(KWinHangs, AFrozenKWinCostsBoundedTime) {
  Session& s = *session;
  const Client client = s.waylandWindow("frozen", "frozen", {100, 100, 300, 200});
  s.activate("frozen");
  const std::uint32_t number = s.numberOf("frozen");
  {
    ASSERT_EQ(kill(s.kwin->pid(), SIGSTOP), 0);
    const std::shared_ptr<void> thaw(nullptr, [&](void*) { kill(s.kwin->pid(), SIGCONT); });
    std::vector<std::string> argv{installed / INSTALL_EXECDIR / "halvic_screen_helper"};
    const testing::Outcome run = testing::runToEnd(s.launch(argv));
    EXPECT_TRUE(!run.timedOut && run.exitCode == 0 && run.err.empty() && oneLine(run.out)) << run.err << run.out;
    EXPECT_EQ(json::parse(run.out, nullptr, false).value("error", ""), "no_active_window") << run.out;
    const auto capture = testing::runToEnd(
        s.launch({installed / INSTALL_EXECDIR / "halvic_screencapture", "-x", "-o", "-l", std::to_string(number),
                  fresh("frozen.png")}));
    EXPECT_TRUE(!capture.timedOut && capture.exitCode != 0 && oneLine(capture.err)) << capture.err;
  }
  EXPECT_TRUE(waitFor([&] { return s.loadedScripts() == s.baseline; }, 5s)) << "a script was left loaded";
}

// KWin is used only where it serves the session's Wayland display: without the bus that names it, or with a display
// some other process serves, the focused Wayland window is never reported (the X server knows nothing of it), and
// no other window stands in for it.
TEST(KWinScreenHelper, UsesKWinOnlyWhereItServesTheDisplay) {
  Session& s = *session;
  const Client client = s.waylandWindow("native", "native", {100, 100, 300, 200});
  s.activate("native");
  const fs::path other = s.base / "run" / "other-0";
  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
  other.string().copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_TRUE(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(listener, 8) == 0);
  const std::shared_ptr<void> closing(nullptr, [&](void*) { close(listener); });
  const Env cases[] = {{{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (s.base / "run" / "nobus").string()}},
                       {{"WAYLAND_DISPLAY", "other-0"}}};
  for (const Env& changes : cases) {
    SCOPED_TRACE(changes.begin()->first);
    const json result = helper(s, {}, changes);
    EXPECT_EQ(result.value("error", ""), "no_active_window") << result;
  }
  EXPECT_EQ(helper(s).value("window_title", ""), "native");
}

}  // namespace
}  // namespace halvic::kwintest

int main(int argc, char** argv) {
  using namespace halvic::kwintest;
  ::testing::InitGoogleTest(&argc, argv);
  std::string pattern = (fs::temp_directory_path() / "halvic-kwin-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 2;
  root = pattern;
  installed = root / "installed programs";
  const auto install = halvic::testing::runToEnd({.argv = {CMAKE_PATH, "--install", BUILD_DIRECTORY, "--prefix", installed}});
  if (install.exitCode != 0) return std::fprintf(stderr, "cmake --install failed:\n%s%s", install.out.c_str(), install.err.c_str()), 2;
  int status = 2;
  try {
    session = std::make_unique<Session>(1);
    status = RUN_ALL_TESTS();
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "%s\n", failure.what());
  }
  session.reset();
  std::error_code ignored;
  fs::remove_all(root, ignored);
  return status;
}
