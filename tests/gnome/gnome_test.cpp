// The screen helper and the screenshot program, installed with our extension, on one private headless GNOME Shell
// (Wayland, with Xwayland) that this process starts through gnome_session.sh, with real clients on it. The Shell runs
// as this process's user, and so do the programs: the extension serves only the installed helpers of that user.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "png_read.h"
#include "program_launch.h"

namespace halvic::gnome_e2e {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using Env = std::map<std::string, std::string>;
using Client = std::unique_ptr<testing::RunningProgram>;
using namespace std::chrono_literals;

// Our extension's uuids, one per entry point, and the Shells whose versions each one's metadata names.
struct Entry {
  std::string uuid;
  std::vector<std::string> shellVersions;
};
const Entry kEntries[] = {{"desktop-helpers@halvic", {"43", "44"}},
                          {"desktop-helpers-45@halvic", {"45", "46", "47", "48"}}};
constexpr const char* kNoWindow = "Aktif pencere bulunamadi. Hedef pencereyi one alip tekrar dene.";

struct Session {
  fs::path base, prefix, programs;  // prefix: the install; programs: its libexec/halvic
  Env env;
  std::string shellVersion, uuid;  // the Shell's version ("48.7") and the uuid of ours it runs
  int files = 0, clients = 0;
} session;

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

// A run in the session's environment only, with `changes` (an empty value removes a name); a program named without
// a directory is the installed one.
testing::Launch launch(std::vector<std::string> argv, Env changes = {}, std::optional<std::string> log = {}) {
  if (argv[0].find('/') == std::string::npos) argv[0] = session.programs / argv[0];
  changes.insert(session.env.begin(), session.env.end());
  std::erase_if(changes, [](const auto& entry) { return entry.second.empty(); });
  return {.argv = std::move(argv), .environment = std::move(changes), .inheritEnvironment = false,
          .workingDirectory = session.base, .logFile = std::move(log)};
}

testing::Outcome run(std::vector<std::string> argv, const Env& changes = {}) {
  return testing::runToEnd(launch(std::move(argv), changes), 60s);
}

void script(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"/bin/bash", GNOME_SESSION_SCRIPT};
  argv.insert(argv.end(), args.begin(), args.end());
  const auto outcome =
      testing::runToEnd({.argv = argv, .environment = {{"PATH", "/usr/bin:/bin"}}, .inheritEnvironment = false}, 60s);
  if (outcome.exitCode != 0) throw std::runtime_error("gnome_session.sh " + args[0] + " failed:\n" + outcome.err);
  std::istringstream lines(outcome.out);
  for (std::string line; std::getline(lines, line);) {
    if (const auto equals = line.find('='); equals != std::string::npos)
      session.env[line.substr(0, equals)] = line.substr(equals + 1);
  }
}

std::string shellProperty(const std::string& name) {
  const auto outcome = run({GDBUS_PATH, "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                            "/org/gnome/Shell", "--method", "org.freedesktop.DBus.Properties.Get", "org.gnome.Shell",
                            name});
  if (outcome.exitCode != 0) throw std::runtime_error("no " + name + ": " + outcome.err);
  return outcome.out;  // as gdbus prints it: (<'48.7'>,)
}

void install(const fs::path& prefix, const Env& changes = {}) {
  const auto outcome = testing::runToEnd(
      {.argv = {CMAKE_PATH, "--install", BUILD_DIR, "--prefix", prefix}, .environment = changes}, 60s);
  if (outcome.exitCode != 0) throw std::runtime_error("cmake --install failed:\n" + outcome.out + outcome.err);
}

void startSession() {
  std::string pattern = (fs::temp_directory_path() / "halvic-gnome-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  session.base = pattern;
  session.prefix = session.base / "prefix";
  session.programs = session.prefix / "libexec/halvic";
  install(session.prefix);
  // A monitor large enough for scale 2 (mutter offers it from 1600x1200 on).
  script({"start", session.base / "session", session.prefix / "share", "1600x1200"});
  session.env["PATH"] = "/usr/bin:/bin";
  session.env["TMPDIR"] = session.base;
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) session.env[name] = value;
  }
  const std::string version = shellProperty("ShellVersion");
  session.shellVersion = version.substr(3, version.find('\'', 3) - 3);
  for (const Entry& entry : kEntries) {
    for (const std::string& major : entry.shellVersions) {
      if (session.shellVersion.starts_with(major + ".")) session.uuid = entry.uuid;
    }
  }
  if (session.uuid.empty()) throw std::runtime_error("no entry of ours serves GNOME Shell " + session.shellVersion);
  std::printf("GNOME Shell %s, our extension %s\n", session.shellVersion.c_str(), session.uuid.c_str());
}

void endSession() {
  script({"stop", session.base / "session"});
  std::error_code ignored;
  fs::remove_all(session.base, ignored);
}

pid_t shellPid() { return std::stoi(slurp(session.base / "session/shell.pid")); }

Client start(std::vector<std::string> argv, const fs::path& log) {
  return std::make_unique<testing::RunningProgram>(launch(std::move(argv), {}, log));
}

// A Wayland window of WxH logical pixels showing the pattern at `scale`, once the Shell has drawn it (and, as a new
// window, given it the focus).
Client waylandWindow(const std::string& appId, const std::string& title, const std::string& size = "400x300",
                     int scale = 1) {
  Client client = start({COLOUR_WINDOW_PATH, appId, std::to_string(scale), size, title}, session.base / "clients.log");
  if (!waitFor([&] { return fs::exists(fs::path(session.env["XDG_RUNTIME_DIR"]) / ("colour-window-" + appId)); }))
    throw std::runtime_error("no window " + appId + " was shown:\n" + slurp(session.base / "clients.log"));
  std::this_thread::sleep_for(100ms);
  return client;
}

std::string xdotool(const std::vector<std::string>& args) {
  std::vector<std::string> argv{XDOTOOL_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv).out;
}

// An X11 window (through Xwayland) with test_window's options; its X11 id once it is mapped and, unless it takes no
// focus, has the focus.
struct XWindow {
  Client client;
  std::string id;
};
XWindow x11Window(const std::vector<std::string>& options) {
  const fs::path log = session.base / ("x11-" + std::to_string(++session.clients) + ".log");
  std::vector<std::string> argv{TEST_WINDOW_PATH};
  argv.insert(argv.end(), options.begin(), options.end());
  XWindow window{start(argv, log), ""};
  const bool unfocused = std::find(options.begin(), options.end(), "--no-focus") != options.end();
  const bool up = waitFor([&] {
    std::istringstream(slurp(log)) >> window.id;
    return !window.id.empty() && (unfocused || xdotool({"getactivewindow"}) == window.id + "\n");
  });
  if (!up) throw std::runtime_error("the X11 window did not come up with the focus:\n" + slurp(log));
  std::this_thread::sleep_for(100ms);
  return window;
}

struct XGeometry {
  long x = 0, y = 0, width = 0, height = 0;
};
// Where the X server places the window's client area on the root window (xwininfo's absolute corner).
XGeometry x11Geometry(const std::string& id) {
  XGeometry g;
  std::istringstream info(run({XWININFO_PATH, "-id", id}).out);
  for (std::string line; std::getline(info, line);) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string key = line.substr(0, colon);
    long* fields[] = {&g.x, &g.y, &g.width, &g.height};
    const char* names[] = {"  Absolute upper-left X", "  Absolute upper-left Y", "  Width", "  Height"};
    for (int i = 0; i < 4; ++i) {
      if (key == names[i]) *fields[i] = std::stol(line.substr(colon + 1));
    }
  }
  return g;
}

fs::path freshPath(const std::string& name) { return session.base / (std::to_string(++session.files) + "-" + name); }

bool oneLine(const std::string& text) { return text.ends_with('\n') && text.find('\n') == text.size() - 1; }

// Whatever happens: one line on stdout (and in the output file), exit 0, nothing on stderr, within the run's bound.
json helper(const Env& changes = {}, const std::string& program = "halvic_screen_helper") {
  const fs::path output = freshPath("deep/result.json");
  const testing::Outcome outcome =
      testing::runToEnd(launch({program, "capture_active_window", output}, changes), 8s);
  EXPECT_TRUE(!outcome.timedOut && outcome.exitCode == 0 && outcome.err.empty() && oneLine(outcome.out))
      << outcome.err << outcome.out;
  EXPECT_EQ(slurp(output) + "\n", outcome.out) << "the output file differs";
  return json::parse(outcome.out, nullptr, false);
}

// A refused capture: a non-zero status, one line on stderr that says `why`, and nothing at the path.
void expectRefused(const std::string& id, const std::string& why, const std::string& program = "halvic_screencapture") {
  const fs::path path = freshPath("shot.png");
  const auto outcome = testing::runToEnd(launch({program, "-x", "-o", "-l", id, path}), 15s);
  EXPECT_TRUE(!outcome.timedOut && outcome.exitCode != 0 && outcome.out.empty() && oneLine(outcome.err))
      << outcome.out << outcome.err;
  EXPECT_NE(outcome.err.find(why), std::string::npos) << outcome.err;
  EXPECT_FALSE(fs::exists(path));
}

// A success with `owner` and `title` whose bounds have the window's size (and `at`, when known) and whose PNG (the
// user's own, mode 0600) shows the window's pattern exactly, `scale` pixels per logical one.
void expectCaptured(const json& result, const std::string& owner, const std::string& title, long width, long height,
                    int scale = 1, std::optional<XGeometry> at = {}) {
  ASSERT_EQ(result.value("ok", false), true) << result;
  EXPECT_EQ(result.value("owner_name", ""), owner);
  EXPECT_EQ(result.value("window_title", ""), title);
  const json bounds = result.value("bounds", json());
  EXPECT_EQ(bounds.value("width", 0L), width) << bounds;
  EXPECT_EQ(bounds.value("height", 0L), height) << bounds;
  if (at) {
    EXPECT_EQ(bounds, (json{{"x", at->x}, {"y", at->y}, {"width", at->width}, {"height", at->height}}));
  }
  const std::string path = result.value("image_path", "");
  struct stat info {};
  EXPECT_TRUE(stat(path.c_str(), &info) == 0 && (info.st_mode & 0777) == 0600 && info.st_uid == geteuid()) << path;
  const auto png = e2e::readPng(path);
  ASSERT_TRUE(png && png->width == width * scale && png->height == height * scale) << path;
  std::size_t wrong = 0;
  for (std::uint32_t y = 0; y < png->height; ++y) {
    for (std::uint32_t x = 0; x < png->width; ++x) wrong += png->at(x, y) == e2e::patternPixel(x, y) ? 0 : 1;
  }
  EXPECT_EQ(wrong, 0u) << path;
}

std::string extension(const std::string& method, const std::string& uuid = session.uuid) {
  const auto outcome = run({GDBUS_PATH, "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                            "/org/gnome/Shell", "--method", "org.gnome.Shell.Extensions." + method, uuid});
  if (outcome.exitCode != 0) throw std::runtime_error(method + " failed: " + outcome.err);
  return outcome.out;
}

// The focused window, Wayland or Xwayland, read and captured through the extension: X11 itself is out of reach
// (no DISPLAY). An Xwayland window's bounds are its client area, as the X server places it, without the title bar
// the Shell draws; a Wayland window's are its frame. Titles keep their Turkish letters; the output file gets the line.
TEST(GnomeScreenHelper, TakesTheFocusedWindowThroughTheExtension) {
  const std::string title = "Çalışma ağı — öğrenci notları İĞÜŞÖÇ";
  {
    SCOPED_TRACE("Wayland");
    const Client window = waylandWindow("native", title);
    expectCaptured(helper({{"DISPLAY", ""}}), "native", title, 400, 300);
  }
  {
    SCOPED_TRACE("Xwayland");
    const XWindow window = x11Window({"--title=" + title, "--class=XClient", "--size=300x200", "--pos=500,300"});
    expectCaptured(helper({{"DISPLAY", ""}}), "XClient", title, 300, 200, 1, x11Geometry(window.id));
  }
}

// A focused window under another one (kept above it) is captured with its own pixels, not the cover's; a focused
// window too small to qualify falls back to the frontmost one that does.
TEST(GnomeScreenHelper, CoveredWindowsKeepTheirPixelsAndTooSmallOnesFallBack) {
  const Client covered = waylandWindow("covered", "under");
  const json first = helper();
  expectCaptured(first, "covered", "under", 400, 300);
  const json& b = first["bounds"];
  const std::string over = std::to_string(b.value("x", 0L) - 50) + "," + std::to_string(b.value("y", 0L) - 50);
  const XWindow cover = x11Window({"--above", "--no-focus", "--class=Cover", "--size=500x400", "--pos=" + over});
  expectCaptured(helper(), "covered", "under", 400, 300);
  // GNOME 48 tells a window it was drawn only when some of it shows: the cover, still in front, moves to the far
  // corner, away from where the Shell places the next window (from the top left).
  xdotool({"windowmove", cover.id, "1000", "700"});
  const Client tiny = waylandWindow("tiny", "tiny", "70x50");
  const json fallback = helper();
  EXPECT_EQ(fallback.value("owner_name", ""), "Cover") << fallback;
}

// A minimized window and one moved to another workspace are not windows the user sees: neither is reported, even
// when it was the focused one a moment before.
TEST(GnomeScreenHelper, IgnoresMinimizedWindowsAndOtherWorkspaces) {
  const std::pair<std::string, std::vector<std::string>> hidings[] = {{"windowminimize", {}},
                                                                       {"set_desktop_for_window", {"1"}}};
  for (const auto& [command, after] : hidings) {
    SCOPED_TRACE(command);
    const Client witness = waylandWindow("witness-" + command, "witness");
    const XWindow hidden = x11Window({"--class=Hidden", "--size=500x400"});
    // The X server names the new window active before the Shell hears back that it has the focus.
    ASSERT_TRUE(waitFor([&] { return helper().value("owner_name", "") == "Hidden"; }, 5s));
    std::vector<std::string> args{command, hidden.id};
    args.insert(args.end(), after.begin(), after.end());
    xdotool(args);
    ASSERT_TRUE(waitFor([&] { return helper().value("owner_name", "") != "Hidden"; }, 5s));
    expectCaptured(helper(), "witness-" + command, "witness", 400, 300);
  }
}

// On a scale-2 monitor (logical layout) a 400x300 window's PNG has 800x600 pixels, its own, while the bounds stay
// logical.
TEST(GnomeScreenHelper, CapturesAtTheMonitorsScale) {
  const auto displayConfig = [](const std::string& method, std::vector<std::string> args) {
    std::vector<std::string> argv{GDBUS_PATH, "call", "--session", "--dest", "org.gnome.Mutter.DisplayConfig",
                                  "--object-path", "/org/gnome/Mutter/DisplayConfig",
                                  "--method", "org.gnome.Mutter.DisplayConfig." + method};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto outcome = run(argv);
    if (outcome.exitCode != 0) throw std::runtime_error(method + " failed: " + outcome.err);
    return outcome.out;
  };
  const auto scaleTo = [&](const std::string& scale) {
    const std::string state = displayConfig("GetCurrentState", {});
    const std::string serial = state.substr(state.find("uint32 ") + 7, state.find(',') - state.find("uint32 ") - 7);
    displayConfig("ApplyMonitorsConfig",
                  {serial, "1", "[(0, 0, " + scale + ", 0, true, [('Meta-0', '1600x1200@60.000', @a{sv} {})])]",
                   "{'layout-mode': <uint32 1>}"});
    std::this_thread::sleep_for(300ms);
  };
  scaleTo("2.0");
  const std::shared_ptr<void> restore(nullptr, [&](void*) { scaleTo("1.0"); });
  const Client window = waylandWindow("scaled", "iki kat", "400x300", 2);
  expectCaptured(helper(), "scaled", "iki kat", 400, 300, 2);
}

// Only the installed helpers of the Shell's user get an answer: another program is refused with the extension's own
// error, and so is a copy of the helper anywhere else, which reports the refusal as one the user must act on. A
// window the Shell does not have is refused too, and leaves no file.
TEST(GnomeExtension, AnswersOnlyOurInstalledPrograms) {
  const Client window = waylandWindow("private", "gizli");
  const auto asked = run({GDBUS_PATH, "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                          "/org/halvic/Windows", "--method", "org.halvic.Windows1.GetWindows"});
  EXPECT_NE(asked.exitCode, 0);
  EXPECT_NE(asked.err.find("org.halvic.Windows1.Error.NotOurCaller"), std::string::npos) << asked.err << asked.out;
  EXPECT_EQ(asked.out.find("gizli"), std::string::npos);

  const fs::path elsewhere = session.base / "elsewhere";
  fs::create_directories(elsewhere);
  for (const char* program : {"halvic_screen_helper", "halvic_screencapture"})
    fs::copy_file(session.programs / program, elsewhere / program, fs::copy_options::overwrite_existing);
  const json copied = helper({}, elsewhere / "halvic_screen_helper");
  EXPECT_EQ(copied.value("error", ""), "permission_denied") << copied;
  EXPECT_NE(copied.value("detail", "").find("tanimiyor"), std::string::npos) << copied;

  expectRefused("1", "no window 1 in the GNOME Shell");
}

// Without our extension (disabled here; not installed or too old a Shell look the same) a Wayland window cannot be
// seen: the result says how to enable it. An Xwayland window with the focus is still found through the X server.
TEST(GnomeExtension, WithoutItTheResultSaysHowToEnableIt) {
  const Client wayland = waylandWindow("unseen", "unseen");
  extension("DisableExtension");
  std::this_thread::sleep_for(200ms);
  const std::shared_ptr<void> enable(nullptr, [](void*) {
    extension("EnableExtension");
    std::this_thread::sleep_for(200ms);
  });
  const json result = helper();
  EXPECT_EQ(result, (json{{"ok", false}, {"error", "permission_denied"}, {"owner_name", ""},
                          {"detail", "GNOME Shell pencereleri yalnizca " + session.uuid + " uzantisi acikken "
                                     "gosterir. 'gnome-extensions enable " + session.uuid + "' komutuyla uzantiyi "
                                     "acip oturumu kapatip yeniden ac, sonra tekrar dene."}}));
  const XWindow x = x11Window({"--title=X pencere", "--class=XFocused", "--size=300x200", "--pos=100,100"});
  expectCaptured(helper(), "XFocused", "X pencere", 300, 200, 1, x11Geometry(x.id));
}

// A Shell that stops answering costs bounded time: the helper still prints its line, the screenshot program fails
// with its one line.
TEST(GnomeHangs, AFrozenShellCostsBoundedTime) {
  const Client window = waylandWindow("frozen", "frozen");
  const pid_t shell = shellPid();
  ASSERT_EQ(kill(shell, SIGSTOP), 0);
  const std::shared_ptr<void> thaw(nullptr, [shell](void*) { kill(shell, SIGCONT); });
  EXPECT_EQ(helper(), (json{{"ok", false}, {"error", "no_active_window"}, {"detail", kNoWindow}, {"owner_name", ""}}));
  expectRefused("1", "did not answer");
}

// One installation serves GNOME 43 to 48: each entry point is installed under its own uuid, whose metadata names
// the Shells that load it. With both enabled (as the session enables them), this Shell runs the one that names its
// version and leaves the other out of date.
TEST(GnomeInstall, EachShellRunsTheEntryThatNamesItsVersion) {
  constexpr int kActive = 1, kOutOfDate = 4;  // the Shell's ExtensionState, the same in 43 and 48
  for (const Entry& entry : kEntries) {
    SCOPED_TRACE(entry.uuid);
    const json metadata =
        json::parse(slurp(session.prefix / "share/gnome-shell/extensions" / entry.uuid / "metadata.json"), nullptr,
                    false);
    EXPECT_EQ(metadata.value("uuid", ""), entry.uuid);
    EXPECT_EQ(metadata.value("shell-version", json()), json(entry.shellVersions));
    const std::string state = "'state': <" + std::to_string(entry.uuid == session.uuid ? kActive : kOutOfDate) + ".0>";
    std::string info;
    const auto inState = [&] {
      info = extension("GetExtensionInfo", entry.uuid);
      return info.find(state) != std::string::npos;
    };
    EXPECT_TRUE(waitFor(inState, 5s)) << info;
  }
}

// The extension accepts the executables where the install puts them, under either uuid: the prefix given at install
// time counts, a staging root (DESTDIR) does not.
TEST(GnomeInstall, TheExtensionNamesTheFinalPathsOfTheHelpers) {
  const fs::path other = session.base / "other", stage = session.base / "stage";
  struct Install {
    fs::path prefix, destdir;
  };
  for (const auto& [prefix, destdir] : {Install{other / "./x/../usr/", ""}, Install{"/opt/halvic", stage}}) {
    SCOPED_TRACE(prefix);
    install(prefix, destdir.empty() ? Env{} : Env{{"DESTDIR", destdir}});
    const fs::path final = (prefix.string().starts_with(other.string()) ? other / "usr" : prefix);
    for (const Entry& entry : kEntries) {
      EXPECT_EQ(slurp(destdir.string() + (final / "share/gnome-shell/extensions" / entry.uuid / "callers").string()),
                (final / "libexec/halvic/halvic_screen_helper\n").string() +
                (final / "libexec/halvic/halvic_screencapture\n").string()) << entry.uuid;
    }
  }
}

}  // namespace
}  // namespace halvic::gnome_e2e

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  halvic::gnome_e2e::startSession();
  const int status = RUN_ALL_TESTS();
  halvic::gnome_e2e::endSession();
  return status;
}
