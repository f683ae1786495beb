// The whole screen helper, started as a host starts it: what it captures and reports, its two channels to the
// host when they are mistreated, and pressure from outside: many runs at once, windows and X servers that
// vanish mid-run.
#include <atomic>
#include <fstream>
#include <set>

#include "x_session.h"

namespace halvic::e2e {
namespace {

const json kUnsupportedMode = {
    {"ok", false}, {"error", "unsupported_mode"}, {"detail", "Yalnizca capture_active_window destekleniyor."}};

// Every auxiliary file of the atomic write still lying under `root`.
std::vector<std::string> leftoverAuxiliaryFiles(const fs::path& root) {
  std::vector<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("halvic-screen-") && name.ends_with(".tmp")) found.push_back(entry.path().string());
  }
  return found;
}

// The frontmost application's titled window before its larger untitled one, side by side: without a compositing
// manager a capture shows what is on screen.
TEST(HelperRun, CapturesTheWindowAUserMeansAndReportsIt) {
  TempDir scratch;
  TestWindow other({"--title=Other app", "--class=Other", "--pid=7002", "--size=300x200", "--pos=1200,700"}),
      untitled({"--class=Editor", "--pid=7001", "--size=800x500", "--pos=20,20"}),
      titled({"--title=Notlar — Ağustos", "--class=Editor", "--pid=7001", "--size=321x203", "--pos=900,300"});
  ASSERT_TRUE(activate(untitled.id()));
  Launch launch = helperLaunch({"capture_active_window", scratch / "out/result.json"}, scratch.path);
  launch.umask = 0;  // the PNG is private all the same
  const std::string line = oneLine(runToEnd(launch));
  const json result = parsed(line);
  EXPECT_EQ(readFile(scratch / "out/result.json"), line);
  expectSubset(result, {{"ok", true}, {"owner_name", "Editor"}, {"window_title", "Notlar — Ağustos"}, {"detail", ""}});
  int left = 0, top = 0;
  Window child = None;
  XTranslateCoordinates(x(), titled.id(), DefaultRootWindow(x()), 0, 0, &left, &top, &child);
  EXPECT_EQ(result.value("bounds", json()), json({{"x", left}, {"y", top}, {"width", 321}, {"height", 203}}));
  const fs::path image = result.value("image_path", "");
  EXPECT_EQ(image.parent_path(), scratch.path);
  EXPECT_EQ(fs::status(image).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  const auto png = readPng(image);
  ASSERT_TRUE(png && png->width == 321 && png->height == 203) << image;
  for (std::uint32_t i = 0; i < 321 * 203; ++i)
    ASSERT_EQ(png->pixels[i], patternPixel(i % 321, i / 321)) << "pixel " << i % 321 << "," << i / 321;
}

TEST(HelperStandardOutput, ADeadOrMissingStandardOutputLosesNothingOfTheOutputFile) {
  using enum testing::StdoutTarget;
  const std::vector<std::tuple<const char*, testing::StdoutTarget, bool>> rows = {
      {"every standard descriptor closed", Closed, true},
      {"reader gone before the write", ReaderGone, false},
      {"standard output on /dev/full", DevFull, false},
  };
  TempDir scratch;
  TestWindow window({"--title=Gölge Rapor", "--class=Yazici", "--size=160x120", "--pos=300,200"});
  ASSERT_TRUE(activate(window.id()));
  for (const auto& [name, target, closeStdinAndStderr] : rows) {
    SCOPED_TRACE(name);
    const std::string output = scratch / (std::string("results/") + name + "/result.json");
    Launch launch = helperLaunch({"capture_active_window", output}, scratch.path);
    launch.stdoutTarget = target;
    launch.closeStdinAndStderr = closeStdinAndStderr;
    const auto outcome = runToEnd(launch);
    EXPECT_TRUE(outcome.exited && outcome.exitCode == 0 && outcome.err.empty()) << outcome.signal << outcome.err;
    const std::string text = readFile(output);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    const json result = parsed(text);
    expectSubset(result, {{"ok", true}, {"window_title", "Gölge Rapor"}});
    EXPECT_TRUE(fs::exists(result.value("image_path", "")));
  }
  EXPECT_EQ(leftoverAuxiliaryFiles(scratch.path), std::vector<std::string>{});
}

// The file holds the whole text or is left as it was.
TEST(HelperOutputPath, TheFileHoldsTheWholeTextOrIsLeftAsItWas) {
  struct Row {
    const char* name;
    const char* prepare;     // shell commands run in the case's directory, the helper's working directory
    std::string path;        // passed as given when relative, else joined to that directory
    bool written;            // the complete text is at `path`, else `path` is as `prepare` left it
    const char* check = "";  // shell commands that must succeed afterwards
    bool otherUser = false;  // run as nobody (when the tests run as root)
    std::optional<rlim_t> fileSizeLimit = {};
  };
  const std::vector<Row> rows = {
      {"missing levels, spaces and non-ASCII letters", "", "/Çıktı klasörü/a b/sonuç ğüş.json", true},
      {"bare relative file name", "", "result.json", true},
      {"dangling symlink: nothing is made at its target", "ln -s \"$PWD/elsewhere/victim.json\" result.json",
       "/result.json", true, "[ ! -e elsewhere ]"},
      {"existing directory", "mkdir result.json; echo inside >result.json/inside.txt", "/result.json", false,
       "[ \"$(cat result.json/inside.txt)\" = inside ]"},
      {"unwritable directory", "mkdir locked; echo other >locked/other.json; chmod 555 locked", "/locked/a/result.json",
       false, "[ \"$(cat locked/other.json)\" = other ] && [ ! -e locked/a ]", true},
      {"write cut short, as on a full disk", "echo 'previous result' >result.json", "/result.json", false,
       "[ \"$(cat result.json)\" = 'previous result' ]", false, 16},
  };
  TempDir scratch;
  fs::permissions(scratch.path, fs::perms::others_exec | fs::perms::group_exec, fs::perm_options::add);
  // Another user may not reach the build tree, so it starts a copy.
  const fs::path helperCopy = scratch.path / "halvic_screen_helper";
  fs::copy_file(SCREEN_HELPER_PATH, helperCopy);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    SCOPED_TRACE(r.name);
    const std::string base = (scratch.path / std::to_string(i)).string(),
                      path = r.path.starts_with("/") ? base + r.path : r.path;
    fs::create_directory(base);
    ASSERT_EQ(runToEnd(Launch{.argv = {"/bin/sh", "-ec", r.prepare}, .workingDirectory = base}).exitCode, 0);
    const std::string before = readFile(fs::path(base) / path);
    // Only root needs another user to meet a directory it may not write to.
    const bool asOtherUser = geteuid() == 0 && r.otherUser;
    Launch launch{
        .argv = testing::helperCommand(asOtherUser ? helperCopy.string() : SCREEN_HELPER_PATH, {"unsupported", path}),
        .workingDirectory = base,
        .umask = 022,
        .fileSizeLimit = r.fileSizeLimit};
    if (asOtherUser) launch.user = 65534;
    const std::string line = oneLine(runToEnd(launch));
    EXPECT_EQ(parsed(line), kUnsupportedMode);
    EXPECT_EQ(readFile(fs::path(base) / path), r.written ? line : before);
    EXPECT_TRUE(!r.written || fs::symlink_status(fs::path(base) / path).permissions() == static_cast<fs::perms>(0644));
    EXPECT_EQ(runToEnd(Launch{.argv = {"/bin/sh", "-ec", r.check}, .workingDirectory = base}).exitCode, 0) << r.check;
    EXPECT_EQ(leftoverAuxiliaryFiles(base), std::vector<std::string>{});
  }
}

// Even runs write files of their own, odd runs all the same file.
TEST(HelperConcurrency, FiftyRunsAtOnceKeepTheirPngsApartAndTheirOutputFilesWhole) {
  TempDir scratch;
  TestWindow window({"--title=Eşzamanlı", "--class=Paralel", "--size=120x90", "--pos=400,300"});
  ASSERT_TRUE(activate(window.id()));
  auto output = [&](int i) {
    return scratch.path / "outputs" / (i % 2 ? "shared.json" : std::to_string(i) + ".json");
  };
  std::vector<std::unique_ptr<RunningProgram>> runs;
  for (int i = 0; i < 50; ++i)
    runs.push_back(
        std::make_unique<RunningProgram>(helperLaunch({"capture_active_window", output(i).string()}, scratch.path)));
  std::set<std::string> images, sharedLines;
  for (int i = 0; i < 50; ++i) {
    const std::string line = oneLine(runs[i]->finish()), image = parsed(line).value("image_path", "");
    EXPECT_TRUE(images.insert(image).second) << "named twice: " << image;
    const auto png = readPng(image);
    EXPECT_TRUE(png && png->width == 120 && png->height == 90) << image;
    if (i % 2)
      sharedLines.insert(line);
    else
      EXPECT_EQ(readFile(output(i)), line);
  }
  EXPECT_EQ(sharedLines.count(readFile(output(1))), 1u);
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path / "outputs"), fs::directory_iterator()), 26)
      << "an auxiliary file is left";
}

// Losing the window or the server is reported as one of these.
void expectReportedLoss(const json& result) {
  const std::set<std::string> losses = {"no_active_window", "capture_failed"};
  EXPECT_TRUE(result.value("ok", false) || losses.count(result.value("error", "")) == 1) << result.dump();
}

// Another client maps windows (which take the focus) and destroys them, paced so that the window manager keeps up
// and lists them now and then.
TEST(HelperXServerTrouble, WindowsVanishingDuringTwoHundredRunsNeverBreakTheLine) {
  TempDir scratch;
  TestWindow steady({"--title=Sabit", "--class=Steady", "--size=140x100", "--pos=1200,700"});
  std::atomic<bool> done{false};
  std::atomic<int> rounds{0};
  std::thread churn([&] {
    Display* d = XOpenDisplay(nullptr);
    for (; !done; ++rounds) {
      std::vector<Window> windows;
      for (int i = 0; i < 4; ++i) {
        windows.push_back(XCreateSimpleWindow(d, DefaultRootWindow(d), 100 + i * 30, 100 + i * 30, 300, 200, 0, 0, 0));
        XStoreName(d, windows.back(), "Gecici");
        XMapWindow(d, windows.back());
      }
      XSync(d, False);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      for (Window w : windows) XDestroyWindow(d, w);
      XSync(d, False);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    XCloseDisplay(d);
  });
  const int roundsBefore = rounds;
  for (int pair = 0; pair < 100; ++pair) {
    RunningProgram first(helperLaunch({}, scratch.path)), second(helperLaunch({}, scratch.path));
    for (RunningProgram* run : {&first, &second}) expectReportedLoss(parsed(oneLine(run->finish())));
  }
  EXPECT_GT(rounds - roundsBefore, 20) << "the windows hardly changed during the runs";
  done = true;
  churn.join();
  EXPECT_TRUE(waitUntil([&] { return stacking() == std::vector<unsigned long>{steady.id()}; }));
}

TEST(HelperXServerTrouble, TheServerDyingAtAnyMomentOfARunLeavesOneCleanLine) {
  TempDir scratch;
  // Many windows make the helper ask the server for their owners' pids and
  // convert compound-text titles: the steps where Xlib, not xcb, talks to it.
  const std::vector<std::string> windowOptions = {"--count=100", "--size=120x90", "--no-pid",
                                                  "--compound-title=Gül ve Şeker"};
  std::chrono::steady_clock::duration runTime{};  // a whole run here, so that the kills spread over it
  for (int kill = -1; kill < 16; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill) + " of 16");
    XServer server;
    TestWindow windows(windowOptions, server.display());
    const auto start = std::chrono::steady_clock::now();
    RunningProgram helper(helperLaunch({}, scratch.path, SCREEN_HELPER_PATH, server.display()));
    if (kill >= 0) {
      std::this_thread::sleep_for(runTime * kill / 16);
      ::kill(server.pid(), SIGKILL);
    }
    const json result = parsed(oneLine(helper.finish()));
    if (kill < 0) runTime = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(kill >= 0 || result.value("ok", false)) << "the run without a kill fails: " << result.dump();
    expectReportedLoss(result);
  }
}

// Xlib waits for a server without a limit; the helper waits 2 s for each question and for letting go of the
// server at its end, and a server that stopped answering costs it one such wait. Stopped before the run, the
// server never takes the helper's connection; stopped while the screenshot program runs (which then gives up, as
// its own deadline would make it, only sooner), it holds up the closing of the helper's connection.
TEST(HelperXServerTrouble, AServerThatStopsAnsweringCostsTheRunOneBoundedWait) {
  constexpr auto kBound = std::chrono::seconds(6);  // the one wait of 2 s, with room for a slow start
  TempDir scratch;
  XServer server;
  // As large as the screen, so that the screenshot program is still at work when the test sees it.
  TestWindow window({"--title=Hedef", "--class=Yazici", "--size=1600x1000", "--pos=0,0"}, server.display());
  // The screenshot program, once the helper has started it: the helper's only child.
  const auto screenshotProgram = [](pid_t helper) {
    pid_t child = 0;
    std::ifstream("/proc/" + std::to_string(helper) + "/task/" + std::to_string(helper) + "/children") >> child;
    return child;
  };
  const struct {
    const char* name;
    bool beforeTheRun;
    json expected;
  } rows[] = {
      {"stopped before the run", true, {{"ok", false}, {"error", "no_active_window"}, {"owner_name", ""}}},
      {"stopped while the screenshot program runs", false,
       {{"ok", false}, {"error", "capture_failed"}, {"owner_name", "Yazici"}, {"window_title", "Hedef"}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.beforeTheRun) kill(server.pid(), SIGSTOP);
    RunningProgram helper(helperLaunch({}, scratch.path, SCREEN_HELPER_PATH, server.display()));
    if (!row.beforeTheRun) {
      pid_t child = 0;
      while (helper.running() && (child = screenshotProgram(helper.pid())) == 0) std::this_thread::yield();
      kill(server.pid(), SIGSTOP);
      if (child > 0) kill(child, SIGKILL);
    }
    const testing::Outcome outcome = helper.finish(kBound);
    kill(server.pid(), SIGCONT);
    expectSubset(parsed(oneLine(outcome)), row.expected);
  }
}

}  // namespace
}  // namespace halvic::e2e
