// The helper under pressure from outside: many runs at once, a screenshot
// program that misbehaves, windows and X servers that vanish mid-run. Every
// run still ends with status 0 and one JSON line, and no file is written
// through a link.
#include <atomic>
#include <set>

#include "x_session.h"

namespace halvic::e2e {
namespace {

// A copy of the helper beside a stand-in screenshot program: the helper looks
// for its program in its own directory. `script` is the stand-in's shell code,
// given the real program's arguments ($5 is the destination); without one
// there is no program at all.
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

TEST(HelperConcurrency, FiftyRunsAtOnceKeepTheirPngsApartAndTheirOutputFilesWhole) {
  ScratchDirectory scratch;
  TestWindow window({"--title=Eşzamanlı", "--class=Paralel", "--size=120x90", "--pos=400,300"});
  ASSERT_TRUE(activate(window.id()));
  const fs::path outputs = scratch.path / "outputs";
  std::set<std::string> images;
  auto runFifty = [&](const std::function<std::string(int)>& outputOf) {
    std::vector<std::unique_ptr<RunningProgram>> runs;
    for (int i = 0; i < 50; ++i) {
      runs.push_back(std::make_unique<RunningProgram>(helperLaunch({"capture_active_window", (outputs / outputOf(i)).string()}, scratch.path)));
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
  const auto ownLines = runFifty([](int i) { return "own-" + std::to_string(i) + ".json"; });
  for (int i = 0; i < 50; ++i) EXPECT_EQ(readWholeFile(outputs / ("own-" + std::to_string(i) + ".json")), ownLines[i]) << i;
  const auto sharedLines = runFifty([](int) { return "shared.json"; });
  EXPECT_NE(std::ranges::find(sharedLines, readWholeFile(outputs / "shared.json")), sharedLines.end())
      << "the shared file holds no run's text";
  EXPECT_EQ(images.size(), 100u);
  EXPECT_EQ(std::distance(fs::directory_iterator(outputs), fs::directory_iterator()), 51) << "no auxiliary file left";
}

class HelperMisbehavingScreenshotProgram : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(activate(window.id())); }
  ScratchDirectory tmpdir;
  TestWindow window{{"--title=Sahte Pencere", "--class=Fake", "--size=150x100", "--pos=500,400"}};
};

TEST_F(HelperMisbehavingScreenshotProgram, EveryOutcomeOfTheProgramBecomesOneResult) {
  // Four mebibytes alternate between the streams, so a helper reading one
  // stream to its end before the other stalls.
  const std::string mebibytes = "mib() { head -c 1048576 /dev/zero | tr '\\0' \"$1\"; }\n"
                                "mib o; mib e >&2; mib o; mib e >&2; mib o; mib e >&2\n";
  auto failure = [](const char* error, const std::string& detail) {
    return json{{"ok", false}, {"owner_name", "Fake"}, {"window_title", "Sahte Pencere"}, {"error", error}, {"detail", detail}};
  };
  const std::vector<std::tuple<const char*, std::optional<std::string>, bool, json>> rows = {
      {"megabytes on both streams, then a failure", mebibytes + "exit 1", true,
       failure("capture_failed", std::string(3 << 20, 'e'))},
      {"megabytes on both streams around a capture", mebibytes + "printf png > \"$5\"", true,
       {{"ok", true}, {"owner_name", "Fake"}, {"detail", std::string(3 << 20, 'e')}}},
      {"killed by a signal after writing the file", "echo 'yarim kaldi' >&2; printf png > \"$5\"; kill -KILL $$", true,
       failure("capture_failed", "yarim kaldi")},
      {"writes the file, then fails", "printf png > \"$5\"; printf '\\n  encoder crashed \\t\\n' >&2; exit 3", true,
       failure("capture_failed", "encoder crashed")},
      {"fails without writing, citing a permission", "echo 'Screen recording: Operation not permitted' >&2; exit 2",
       true, failure("permission_denied", "Screen recording: Operation not permitted")},
      {"fails without writing or saying why", "exit 1", true, failure("capture_failed", "Ekran goruntusu alinamadi.")},
      {"claims success without writing", "echo done; exit 0", true, failure("capture_failed", "screenshot_file_missing")},
      {"not executable", "exit 0", false, failure("permission_denied", "screencapture_failed: Permission denied")},
      {"missing", std::nullopt, true, failure("capture_failed", "screencapture_failed: No such file or directory")},
  };
  for (const auto& [name, script, executable, expected] : rows) {
    SCOPED_TRACE(name);
    if ((!script || !executable) && testing::helperIsWrapped()) continue;
    HelperBesideFakeProgram copy(script, executable);
    const json result = parsed(oneLine(runToEnd(helperLaunch({}, tmpdir.path, copy.helper))));
    expectSubset(result, expected);
    EXPECT_EQ(result.contains("image_path") && fs::exists(result.value("image_path", "")), result.value("ok", false));
  }
}

TEST_F(HelperMisbehavingScreenshotProgram, AProgramThatHangsHoldsTheRunUntilItIsKilled) {
  HelperBesideFakeProgram copy("echo $$ > '" + tmpdir.path.string() + "/fake.pid'; echo bekliyorum >&2; exec sleep 120");
  RunningProgram helper(helperLaunch({}, tmpdir.path, copy.helper));
  pid_t fake = 0;
  waitUntil([&] { return (fake = std::atoi(readWholeFile(tmpdir.path / "fake.pid").c_str())) > 0; }, std::chrono::seconds(20));
  ASSERT_GT(fake, 0) << "the stand-in never started";
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(helper.running()) << "the helper gave up on a running program";
  // The stand-in stays the helper's unreaped child until the helper sees it
  // end, so this pid is still its own.
  ASSERT_EQ(kill(fake, SIGKILL), 0);
  expectSubset(parsed(oneLine(helper.finish(std::chrono::seconds(10)))),
               {{"ok", false}, {"error", "capture_failed"}, {"detail", "bekliyorum"}});
}

TEST_F(HelperMisbehavingScreenshotProgram, TheRealProgramNeverWritesThroughALinkPlantedAtTheDestination) {
  ScratchDirectory elsewhere;
  const fs::path victim = elsewhere.path / "victim.png", wouldBe = elsewhere.path / "would-be.png";
  std::ofstream(victim) << "victim";
  for (const fs::path& target : {victim, wouldBe}) {
    SCOPED_TRACE(target.filename().string());
    // The stand-in plants the link between the helper's choice of name and
    // the real program's start, as a local attacker racing it would.
    HelperBesideFakeProgram copy("ln -s '" + target.string() + "' \"$5\"\nexec '" SCREENCAPTURE_PATH "' \"$@\"");
    const fs::path runTmp = tmpdir.path / target.stem();
    fs::create_directory(runTmp);
    const json result = parsed(oneLine(runToEnd(helperLaunch({}, runTmp, copy.helper))));
    expectSubset(result, {{"ok", false}, {"error", "capture_failed"}, {"owner_name", "Fake"}});
    EXPECT_NE(result.value("detail", ""), "");
    const std::vector<fs::directory_entry> made{fs::directory_iterator(runTmp), fs::directory_iterator()};
    EXPECT_TRUE(made.size() == 1 && made[0].is_symlink()) << "the planted link stays, nothing else is made";
  }
  EXPECT_EQ(readWholeFile(victim), "victim");
  EXPECT_FALSE(fs::exists(wouldBe));
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
    while (!done) {
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
      ++rounds;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    XCloseDisplay(d);
  });
  const int roundsBefore = rounds;
  for (int pair = 0; pair < 100; ++pair) {
    RunningProgram first(helperLaunch({}, scratch.path)), second(helperLaunch({}, scratch.path));
    for (RunningProgram* run : {&first, &second}) expectReportedLoss(parsed(oneLine(run->finish())));
  }
  const int roundsDuring = rounds - roundsBefore;
  done = true;
  churn.join();
  EXPECT_GT(roundsDuring, 20) << "the windows hardly changed during the runs";
  EXPECT_TRUE(waitUntil([&] { return stacking() == std::vector<Window>{steady.id()}; }));
}

// Many windows that make the helper ask the server for their owners' pids and
// convert their compound-text titles: the steps where Xlib, not xcb, talks to
// the server.
const std::vector<std::string> kXlibHeavyWindows = {"--count=100", "--size=120x90", "--no-pid", "--compound-title=Gül ve Şeker"};

TEST(HelperXServerTrouble, TheServerDyingAtAnyMomentOfARunLeavesOneCleanLine) {
  ScratchDirectory scratch;
  // A whole run's time here, so that the kills spread over it whatever the
  // machine's speed (or valgrind's).
  std::chrono::steady_clock::duration runTime;
  {
    XServer survivor;
    TestWindow windows(kXlibHeavyWindows, survivor.display());
    Launch launch = helperLaunch({}, scratch.path, SCREEN_HELPER_PATH, survivor.display());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(parsed(oneLine(runToEnd(launch))).value("ok", false), true);
    runTime = std::chrono::steady_clock::now() - start;
  }
  for (int kill = 0; kill < 16; ++kill) {
    const auto moment = runTime * kill / 16;
    SCOPED_TRACE("killed after " + std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(moment).count()) + " us");
    XServer doomed;
    TestWindow windows(kXlibHeavyWindows, doomed.display());
    Launch launch = helperLaunch({}, scratch.path, SCREEN_HELPER_PATH, doomed.display());
    RunningProgram helper(launch);
    std::this_thread::sleep_for(moment);
    ::kill(doomed.pid(), SIGKILL);
    expectReportedLoss(parsed(oneLine(helper.finish())));
  }
}

TEST(HelperXServerTrouble, AServerThatStopsAnsweringAndThenDiesOrDiesDuringTheCapture) {
  ScratchDirectory scratch;
  {
    XServer frozen;
    kill(frozen.pid(), SIGSTOP);
    Launch launch = helperLaunch({}, scratch.path, SCREEN_HELPER_PATH, frozen.display());
    RunningProgram helper(launch);
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
                               "/stat)\" != Z ]; do sleep 0.02; i=$((i+1)); done\nexec '" SCREENCAPTURE_PATH "' \"$@\"");
  expectSubset(parsed(oneLine(runToEnd(helperLaunch({}, scratch.path, copy.helper, doomed.display())))), {{"ok", false}, {"error", "capture_failed"}, {"owner_name", "Last"}, {"window_title", "Son"}});
}

}  // namespace
}  // namespace halvic::e2e
