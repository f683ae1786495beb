// The whole screen helper, started as a host starts it: what it captures and reports, its two channels to the
// host when they are mistreated, and pressure from outside: many runs at once, a screenshot program that
// misbehaves, windows and X servers that vanish mid-run.
#include <atomic>
#include <regex>
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

TEST(HelperRun, CapturesTheWindowAUserMeansAndReportsIt) {
  struct Scenario {
    const char* name;
    std::vector<std::vector<std::string>> windows;
    std::vector<std::size_t> activate, iconify;
    json expected;
    int captured = -1;  // the window whose bounds and pixels the capture holds
  };
  const std::vector<Scenario> scenarios = {
      // Side by side: without a compositing manager a capture shows what is on screen.
      {"the frontmost application's titled window before its larger untitled one",
       {{"--title=Other app", "--class=Other", "--pid=7002", "--size=300x200", "--pos=1200,700"},
        {"--class=Editor", "--pid=7001", "--size=800x500", "--pos=20,20"},
        {"--title=Notlar — Ağustos", "--class=Editor", "--pid=7001", "--size=321x203", "--pos=900,300"}},
       {1},
       {},
       {{"ok", true}, {"owner_name", "Editor"}, {"window_title", "Notlar — Ağustos"}, {"detail", ""}},
       2},
      {"no dock, invisible or minimised window",
       {{"--title=Ordinary", "--class=Ordinary", "--pid=9004", "--size=300x200"},
        {"--title=Dock", "--class=Panel", "--pid=9001", "--type=DOCK", "--size=800x100"},
        {"--title=Ghost", "--class=Ghost", "--pid=9002", "--opacity=0.005", "--size=700x500"},
        {"--title=Hidden", "--class=Hidden", "--pid=9003", "--size=600x400"}},
       {2},
       {3},
       {{"ok", true}, {"owner_name", "Ordinary"}, {"window_title", "Ordinary"}}},
      {"nothing on screen",
       {},
       {},
       {},
       {{"ok", false},
        {"error", "no_active_window"},
        {"detail", "Aktif pencere bulunamadi. Hedef pencereyi one alip tekrar dene."},
        {"owner_name", ""}}},
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.name);
    ScratchDirectory scratch;
    std::vector<std::unique_ptr<TestWindow>> windows;
    for (const auto& options : s.windows) windows.push_back(std::make_unique<TestWindow>(options));
    for (const std::size_t i : s.iconify) ASSERT_TRUE(iconify(windows[i]->id()));
    for (const std::size_t i : s.activate) ASSERT_TRUE(activate(windows[i]->id()));
    Launch launch =
        helperLaunch({"capture_active_window", (scratch.path / "out" / "result.json").string()}, scratch.path);
    launch.umask = 0;  // the PNG is private all the same
    const std::string line = oneLine(runToEnd(launch));
    const json result = parsed(line);
    EXPECT_EQ(readWholeFile(scratch.path / "out" / "result.json"), line);
    expectSubset(result, s.expected);
    EXPECT_EQ(result.value("ok", false), result.contains("image_path"));
    if (s.captured < 0) continue;
    unsigned width = 0, height = 0;
    std::sscanf(s.windows[s.captured][3].c_str(), "--size=%ux%u", &width, &height);
    EXPECT_EQ(result.value("bounds", json()), boundsOf(windows[s.captured]->id(), width, height));
    const fs::path image = result.value("image_path", "");
    EXPECT_EQ(image.parent_path(), scratch.path);
    EXPECT_TRUE(std::regex_match(image.filename().string(),
                                 std::regex("halvic-screen-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.png")));
    expectPatternPng(image, width, height);
  }
}

TEST(HelperStandardOutput, ADeadOrMissingStandardOutputLosesNothingOfTheOutputFile) {
  using enum testing::StdoutTarget;
  const std::vector<std::tuple<const char*, testing::StdoutTarget, bool, std::string>> rows = {
      {"standard output closed", Closed, false, "capture_active_window"},
      {"every standard descriptor closed", Closed, true, "capture_active_window"},
      {"reader gone before the write", ReaderGone, false, "capture_active_window"},
      {"standard output on /dev/full", DevFull, false, "capture_active_window"},
      {"every standard descriptor closed, unsupported mode", Closed, true, "capture_window"},
  };
  ScratchDirectory scratch;
  TestWindow window({"--title=Gölge Rapor", "--class=Yazici", "--size=160x120", "--pos=300,200"});
  ASSERT_TRUE(activate(window.id()));
  for (const auto& [name, target, closeStdinAndStderr, mode] : rows) {
    SCOPED_TRACE(name);
    const fs::path output = scratch.path / "results" / name / "result.json";
    Launch launch = helperLaunch({mode, output.string()}, scratch.path);
    launch.stdoutTarget = target;
    launch.closeStdinAndStderr = closeStdinAndStderr;
    const Outcome outcome = runToEnd(launch);
    EXPECT_TRUE(outcome.exited && outcome.exitCode == 0 && outcome.err.empty()) << outcome.signal << outcome.err;
    const std::string text = readWholeFile(output);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    const json result = parsed(text);
    if (mode == "capture_active_window") {
      expectSubset(result, {{"ok", true}, {"window_title", "Gölge Rapor"}});
      const auto png = readPng(result.value("image_path", ""));
      EXPECT_TRUE(png && png->width == 160 && png->height == 120);
    } else {
      EXPECT_EQ(result, kUnsupportedMode);
    }
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
  ScratchDirectory scratch;
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
    const std::string before = readWholeFile(fs::path(base) / path);
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
    EXPECT_EQ(readWholeFile(fs::path(base) / path), r.written ? line : before);
    EXPECT_TRUE(!r.written || fs::symlink_status(fs::path(base) / path).permissions() == static_cast<fs::perms>(0644));
    EXPECT_EQ(runToEnd(Launch{.argv = {"/bin/sh", "-ec", r.check}, .workingDirectory = base}).exitCode, 0) << r.check;
    EXPECT_EQ(leftoverAuxiliaryFiles(base), std::vector<std::string>{});
  }
}

TEST(HelperConcurrency, FiftyRunsAtOnceKeepTheirPngsApartAndTheirOutputFilesWhole) {
  ScratchDirectory scratch;
  TestWindow window({"--title=Eşzamanlı", "--class=Paralel", "--size=120x90", "--pos=400,300"});
  ASSERT_TRUE(activate(window.id()));
  std::set<std::string> images;
  auto runFifty = [&](const std::function<std::string(int)>& outputOf) {
    std::vector<std::unique_ptr<RunningProgram>> runs;
    for (int i = 0; i < 50; ++i) {
      runs.push_back(std::make_unique<RunningProgram>(
          helperLaunch({"capture_active_window", (scratch.path / "outputs" / outputOf(i)).string()}, scratch.path)));
    }
    std::vector<std::string> lines;
    for (auto& run : runs) {
      lines.push_back(oneLine(run->finish()));
      const std::string image = parsed(lines.back()).value("image_path", "");
      EXPECT_TRUE(images.insert(image).second) << "named twice: " << image;
      const auto png = readPng(image);
      EXPECT_TRUE(png && png->width == 120 && png->height == 90) << image;
    }
    return lines;
  };
  const auto ownLines = runFifty([](int i) { return std::to_string(i) + ".json"; });
  for (int i = 0; i < 50; ++i)
    EXPECT_EQ(readWholeFile(scratch.path / "outputs" / (std::to_string(i) + ".json")), ownLines[i]);
  const auto sharedLines = runFifty([](int) { return "shared.json"; });
  EXPECT_NE(std::ranges::find(sharedLines, readWholeFile(scratch.path / "outputs" / "shared.json")), sharedLines.end());
  EXPECT_EQ(images.size(), 100u);
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path / "outputs"), fs::directory_iterator()), 51)
      << "an auxiliary file is left";
}

// A copy of the helper beside a stand-in screenshot program (it looks for its
// program in its own directory): `script` is its shell code, given the real
// program's arguments ($5 is the destination); without one there is none.
struct HelperBesideFakeProgram {
  explicit HelperBesideFakeProgram(const std::optional<std::string>& script, bool executable = true) {
    fs::copy_file(SCREEN_HELPER_PATH, helper);
    if (!script) return;
    std::ofstream(directory.path / "halvic_screencapture") << "#!/bin/sh\n" << *script << "\n";
    fs::permissions(directory.path / "halvic_screencapture", static_cast<fs::perms>(executable ? 0755 : 0644));
  }
  ScratchDirectory directory;
  std::string helper = (directory.path / "halvic_screen_helper").string();
};

class HelperMisbehavingScreenshotProgram : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(activate(window.id())); }
  ScratchDirectory tmpdir;
  TestWindow window{{"--title=Sahte Pencere", "--class=Fake", "--size=150x100", "--pos=500,400"}};
};

TEST_F(HelperMisbehavingScreenshotProgram, EveryOutcomeOfTheProgramBecomesOneResult) {
  // Mebibytes alternate between the streams: a helper reading one stream to its end before the other stalls.
  const std::string mebibytes =
      "mib() { head -c 1048576 /dev/zero | tr '\\0' \"$1\"; }\nmib o; mib e >&2; mib o; mib e >&2; mib o; mib e >&2\n";
  auto failure = [](const char* error, const std::string& detail) {
    return json{
        {"ok", false}, {"owner_name", "Fake"}, {"window_title", "Sahte Pencere"}, {"error", error}, {"detail", detail}};
  };
  const std::vector<std::tuple<const char*, std::optional<std::string>, bool, json>> rows = {
      {"megabytes on both streams around a capture",
       mebibytes + "printf png > \"$5\"",
       true,
       {{"ok", true}, {"owner_name", "Fake"}, {"detail", std::string(3 << 20, 'e')}}},
      {"killed by a signal after writing the file", "echo 'yarim kaldi' >&2; printf png > \"$5\"; kill -KILL $$", true,
       failure("capture_failed", "yarim kaldi")},
      {"writes the file, then fails", "printf png > \"$5\"; printf '\\n  encoder crashed \\t\\n' >&2; exit 3", true,
       failure("capture_failed", "encoder crashed")},
      {"fails citing a permission", "echo 'Screen recording: Operation not permitted' >&2; exit 2", true,
       failure("permission_denied", "Screen recording: Operation not permitted")},
      {"not executable", "exit 0", false, failure("permission_denied", "screencapture_failed: Permission denied")},
      {"missing", std::nullopt, true, failure("capture_failed", "screencapture_failed: No such file or directory")},
  };
  for (const auto& [name, script, executable, expected] : rows) {
    SCOPED_TRACE(name);
    if ((!script || !executable) && testing::helperIsWrapped()) continue;  // valgrind cannot tell a failed exec
    HelperBesideFakeProgram copy(script, executable);
    const json result = parsed(oneLine(runToEnd(helperLaunch({}, tmpdir.path, copy.helper))));
    expectSubset(result, expected);
    EXPECT_EQ(result.contains("image_path") && fs::exists(result.value("image_path", "")), result.value("ok", false));
  }
}

TEST_F(HelperMisbehavingScreenshotProgram, AProgramThatHangsHoldsTheRunUntilItIsKilled) {
  HelperBesideFakeProgram copy("echo $$ > '" + tmpdir.path.string() +
                               "/fake.pid'; echo bekliyorum >&2; exec sleep 120");
  RunningProgram helper(helperLaunch({}, tmpdir.path, copy.helper));
  pid_t fake = 0;
  waitUntil([&] { return (fake = std::atoi(readWholeFile(tmpdir.path / "fake.pid").c_str())) > 0; },
            std::chrono::seconds(20));
  ASSERT_GT(fake, 0) << "the stand-in never started";
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(helper.running()) << "the helper gave up on a running program";
  // Its unreaped child until the helper sees it end, so the pid is still its own.
  ASSERT_EQ(kill(fake, SIGKILL), 0);
  expectSubset(parsed(oneLine(helper.finish(std::chrono::seconds(10)))),
               {{"ok", false}, {"error", "capture_failed"}, {"detail", "bekliyorum"}});
}

// Losing the window or the server is reported as one of these.
void expectReportedLoss(const json& result) {
  const std::set<std::string> losses = {"no_active_window", "capture_failed"};
  EXPECT_TRUE(result.value("ok", false) || losses.count(result.value("error", "")) == 1) << result.dump();
}

TEST(HelperXServerTrouble, WindowsVanishingDuringTwoHundredRunsNeverBreakTheLine) {
  ScratchDirectory scratch;
  TestWindow steady({"--title=Sabit", "--class=Steady", "--size=140x100", "--pos=1200,700"});
  std::atomic<bool> done{false};
  std::atomic<int> rounds{0};
  // Another client maps windows (which take the focus) and destroys them,
  // paced so that the window manager keeps up and lists them now and then.
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
  ScratchDirectory scratch;
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

TEST(HelperXServerTrouble, AServerThatStopsAnsweringAndThenDiesOrDiesDuringTheCapture) {
  ScratchDirectory scratch;
  {
    XServer frozen;
    kill(frozen.pid(), SIGSTOP);
    RunningProgram helper(helperLaunch({}, scratch.path, SCREEN_HELPER_PATH, frozen.display()));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(helper.running()) << "the helper cannot have had an answer";
    kill(frozen.pid(), SIGKILL);
    expectSubset(parsed(oneLine(helper.finish())), {{"ok", false}, {"error", "no_active_window"}, {"owner_name", ""}});
  }
  XServer doomed;
  TestWindow window({"--title=Son", "--class=Last"}, doomed.display());
  // The stand-in kills the server while the helper holds its connection,
  // waits until it is gone, then runs the real program.
  const std::string pid = std::to_string(doomed.pid());
  HelperBesideFakeProgram copy("kill -KILL " + pid + "\ni=0; while [ $i -lt 250 ] && [ \"$(cut -d' ' -f3 /proc/" + pid +
                               "/stat)\" != Z ]; do sleep 0.02; i=$((i+1)); done\nexec '" SCREENCAPTURE_PATH
                               "' \"$@\"");
  expectSubset(parsed(oneLine(runToEnd(helperLaunch({}, scratch.path, copy.helper, doomed.display())))),
               {{"ok", false}, {"error", "capture_failed"}, {"owner_name", "Last"}, {"window_title", "Son"}});
}

}  // namespace
}  // namespace halvic::e2e
