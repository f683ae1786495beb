// The helper under pressure from outside: many runs at once, a screenshot
// program that misbehaves, windows and X servers that vanish mid-run. Whatever
// happens, every run ends with status 0 and one JSON line, and no file is
// written through a link or readable by others.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <thread>

#include "e2e_files.h"
#include "helper_checks.h"
#include "helper_command.h"
#include "png_read.h"
#include "program_launch.h"
#include "test_window_process.h"
#include "x_probe.h"
#include "x_session.h"

namespace halvic::e2e {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::Launch;
using testing::RunningProgram;
using testing::helperCommand;
using testing::helperIsWrapped;
using testing::runToEnd;

Launch helperLaunch(const std::string& helper, const fs::path& tmpdir, std::vector<std::string> args = {},
                    const std::string& display = XSession::display()) {
  Launch launch;
  launch.argv = helperCommand(helper, args);
  launch.environment = {{"TMPDIR", tmpdir.string()}, {"DISPLAY", display}};
  return launch;
}

std::string shortened(const json& value) {
  const std::string text = value.dump();
  return text.size() <= 300 ? text : text.substr(0, 300) + "... (" + std::to_string(text.size()) + " bytes)";
}

// Every key of `expected` has that value in `result`.
void expectSubset(const json& result, const json& expected) {
  for (const auto& [key, value] : expected.items()) {
    EXPECT_TRUE(result.contains(key) && result[key] == value)
        << key << " is " << (result.contains(key) ? shortened(result[key]) : "missing") << ", not "
        << shortened(value);
  }
}

// A copy of the helper beside a stand-in screenshot program: the helper looks
// for its program in its own directory, so the copy runs the stand-in.
class HelperBesideFakeProgram {
 public:
  // `script` is the stand-in's shell code, given the real program's arguments
  // ($5 is the destination); without one there is no program at all.
  explicit HelperBesideFakeProgram(const std::optional<std::string>& script, bool executable = true) {
    fs::copy_file(SCREEN_HELPER_PATH, helper());
    if (!script) return;
    const fs::path program = directory_.path() / "halvic_screencapture";
    std::ofstream(program) << "#!/bin/sh\n" << *script << "\n";
    fs::permissions(program, executable ? static_cast<fs::perms>(0755) : static_cast<fs::perms>(0644));
  }
  std::string helper() const { return (directory_.path() / "halvic_screen_helper").string(); }

 private:
  ScratchDirectory directory_;
};

TEST(HelperConcurrency, FiftyRunsAtOnceKeepTheirPngsApartAndTheirOutputFilesWhole) {
  ScratchDirectory scratch;
  TestWindow window({"--title=Eşzamanlı", "--class=Paralel", "--size=120x90", "--pos=400,300"});
  XProbe probe;
  ASSERT_TRUE(probe.activate(window.id()));
  const fs::path outputs = scratch.path() / "outputs";
  const fs::path shared = outputs / "shared.json";
  constexpr int kRuns = 50;

  std::set<std::string> images;
  auto runFifty = [&](const std::function<fs::path(int)>& outputOf) {
    std::vector<std::unique_ptr<RunningProgram>> runs;
    for (int i = 0; i < kRuns; ++i) {
      runs.push_back(std::make_unique<RunningProgram>(
          helperLaunch(SCREEN_HELPER_PATH, scratch.path(), {"capture_active_window", outputOf(i).string()})));
    }
    std::vector<std::string> lines;
    for (auto& run : runs) {
      lines.push_back(expectOneCleanLine(run->finish()));
      const json result = parseResult(lines.back());
      if (result.value("ok", false) != true) {
        ADD_FAILURE() << lines.back();
        continue;
      }
      const std::string image = result.at("image_path");
      EXPECT_TRUE(images.insert(image).second) << "named twice: " << image;
      const auto png = readPng(image);
      EXPECT_TRUE(png && png->width == 120 && png->height == 90) << image;
    }
    return lines;
  };

  const auto ownLines = runFifty([&](int i) { return outputs / ("own-" + std::to_string(i) + ".json"); });
  for (int i = 0; i < kRuns; ++i) {
    EXPECT_EQ(readWholeFile(outputs / ("own-" + std::to_string(i) + ".json")), ownLines[i]) << i;
  }

  const auto sharedLines = runFifty([&](int) { return shared; });
  const std::string survivor = readWholeFile(shared);
  EXPECT_NE(std::find(sharedLines.begin(), sharedLines.end(), survivor), sharedLines.end())
      << "the shared file holds no run's text: " << survivor;

  EXPECT_EQ(images.size(), 2u * kRuns);
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(outputs)) ++files;
  EXPECT_EQ(files, kRuns + 1u) << "only the output files, no auxiliary file";
}

class HelperMisbehavingScreenshotProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<TestWindow>(
        std::vector<std::string>{"--title=Sahte Pencere", "--class=Fake", "--size=150x100", "--pos=500,400"});
    XProbe probe;
    ASSERT_TRUE(probe.activate(window->id()));
  }

  ScratchDirectory tmpdir;
  std::unique_ptr<TestWindow> window;
};

struct FakeProgramCase {
  const char* name;
  std::optional<std::string> script;
  bool executable;
  json expected;  // keys the result must hold with these values
};

// Writes one mebibyte of the letter $1: four of them alternate between the
// streams, so a helper reading one stream to its end before the other stalls.
const std::string kMebibytes =
    "mib() { head -c 1048576 /dev/zero | tr '\\0' \"$1\"; }\n"
    "mib o; mib e >&2; mib o; mib e >&2; mib o; mib e >&2\n";

TEST_F(HelperMisbehavingScreenshotProgram, EveryOutcomeOfTheProgramBecomesOneResult) {
  const std::string threeMebibytes(3 * 1048576, 'e');
  const json failed = {{"ok", false}, {"owner_name", "Fake"}, {"window_title", "Sahte Pencere"}};
  auto failure = [&failed](const char* error, const std::string& detail) {
    json expected = failed;
    expected["error"] = error;
    expected["detail"] = detail;
    return expected;
  };
  const std::vector<FakeProgramCase> cases = {
      {"megabytes on both streams, then a failure", kMebibytes + "exit 1", true,
       failure("capture_failed", threeMebibytes)},
      {"megabytes on both streams around a capture", kMebibytes + "printf png > \"$5\"", true,
       {{"ok", true}, {"owner_name", "Fake"}, {"detail", threeMebibytes}}},
      {"killed by a signal after writing the file", "echo 'yarim kaldi' >&2; printf png > \"$5\"; kill -KILL $$", true,
       failure("capture_failed", "yarim kaldi")},
      {"writes the file, then fails", "printf png > \"$5\"; printf '\\n  encoder crashed \\t\\n' >&2; exit 3", true,
       failure("capture_failed", "encoder crashed")},
      {"fails without writing, citing a permission", "echo 'Screen recording: Operation not permitted' >&2; exit 2",
       true, failure("permission_denied", "Screen recording: Operation not permitted")},
      {"fails without writing or saying why", "exit 1", true,
       failure("capture_failed", "Ekran goruntusu alinamadi.")},
      {"claims success without writing", "echo done; exit 0", true,
       failure("capture_failed", "screenshot_file_missing")},
      {"not executable", "exit 0", false, failure("permission_denied", "screencapture_failed: Permission denied")},
      {"missing", std::nullopt, true, failure("capture_failed", "screencapture_failed: No such file or directory")},
  };
  for (const FakeProgramCase& c : cases) {
    SCOPED_TRACE(c.name);
    const bool startFails = !c.script || !c.executable;
    if (startFails && helperIsWrapped()) continue;
    HelperBesideFakeProgram copy(c.script, c.executable);
    const std::string line = expectOneCleanLine(runToEnd(helperLaunch(copy.helper(), tmpdir.path())));
    const json result = parseResult(line);
    expectSubset(result, c.expected);
    if (result.value("ok", false)) {
      EXPECT_TRUE(fs::exists(result.at("image_path").get<std::string>()));
    } else {
      EXPECT_FALSE(result.contains("image_path"));
    }
  }
}

TEST_F(HelperMisbehavingScreenshotProgram, AProgramThatHangsHoldsTheRunUntilItIsKilled) {
  HelperBesideFakeProgram copy("echo $$ > '" + tmpdir.path().string() +
                               "/fake.pid'; echo bekliyorum >&2; exec sleep 120");
  RunningProgram helper(helperLaunch(copy.helper(), tmpdir.path()));
  // The stand-in is the helper's unreaped child until the helper sees it end,
  // so its pid stays its own; it must not outlive a failing test.
  pid_t fake = 0;
  struct KillFake {
    pid_t& pid;
    RunningProgram& helper;
    ~KillFake() {
      if (pid > 0 && helper.running()) kill(pid, SIGKILL);
    }
  } killFake{fake, helper};

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (std::string text; fake == 0 && std::chrono::steady_clock::now() < deadline;) {
    text = readWholeFile(tmpdir.path() / "fake.pid");
    if (!text.empty() && text.back() == '\n') fake = std::stoi(text);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_GT(fake, 0) << "the stand-in never started";
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(helper.running()) << "the helper gave up on a running program";

  ASSERT_EQ(kill(fake, SIGKILL), 0);
  const json result = parseResult(expectOneCleanLine(helper.finish(std::chrono::seconds(10))));
  expectSubset(result, {{"ok", false}, {"error", "capture_failed"}, {"detail", "bekliyorum"}});
}

TEST_F(HelperMisbehavingScreenshotProgram, TheRealPngIsPrivateUnderAPermissiveUmask) {
  Launch launch = helperLaunch(SCREEN_HELPER_PATH, tmpdir.path());
  launch.umask = 0;
  const json result = parseResult(expectOneCleanLine(runToEnd(launch)));
  ASSERT_EQ(result.value("ok", false), true) << result.dump();
  struct stat info {};
  ASSERT_EQ(stat(result.at("image_path").get<std::string>().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  EXPECT_EQ(info.st_uid, getuid());
}

TEST_F(HelperMisbehavingScreenshotProgram, TheRealProgramNeverWritesThroughALinkPlantedAtTheDestination) {
  ScratchDirectory elsewhere;
  const fs::path victim = elsewhere.path() / "victim.png";
  const fs::path wouldBe = elsewhere.path() / "would-be.png";
  std::ofstream(victim) << "victim";
  for (const fs::path& target : {victim, wouldBe}) {
    SCOPED_TRACE(target.filename().string());
    // The stand-in plants the link between the helper's choice of name and
    // the real program's start, as a local attacker racing it would.
    HelperBesideFakeProgram copy("ln -s '" + target.string() + "' \"$5\"\nexec '" SCREENCAPTURE_PATH "' \"$@\"");
    const fs::path runTmp = tmpdir.path() / target.stem();
    fs::create_directory(runTmp);
    const json result = parseResult(expectOneCleanLine(runToEnd(helperLaunch(copy.helper(), runTmp))));
    expectSubset(result, {{"ok", false}, {"error", "capture_failed"}, {"owner_name", "Fake"}});
    EXPECT_NE(result.value("detail", ""), "");
    std::vector<std::string> made;
    for (const auto& entry : fs::directory_iterator(runTmp)) {
      made.push_back(entry.path().filename().string() + (fs::is_symlink(entry.symlink_status()) ? " (link)" : ""));
    }
    ASSERT_EQ(made.size(), 1u) << "the planted link stays, nothing else is made";
    EXPECT_TRUE(made[0].ends_with(" (link)")) << made[0];
  }
  EXPECT_EQ(readWholeFile(victim), "victim");
  EXPECT_FALSE(fs::exists(wouldBe));
}

const std::set<std::string> kXFailureCodes = {"no_active_window", "capture_failed"};

void expectReportedLoss(const json& result) {
  if (result.value("ok", true)) return;
  EXPECT_EQ(kXFailureCodes.count(result.value("error", "")), 1u) << result.dump();
}

TEST(HelperXServerTrouble, WindowsVanishingDuringTwoHundredRunsNeverBreakTheLine) {
  ScratchDirectory scratch;
  TestWindow steady({"--title=Sabit", "--class=Steady", "--size=140x100", "--pos=1200,700"});
  std::atomic<bool> done{false};
  std::atomic<int> rounds{0};
  // Another client maps windows (which take the focus) and destroys them again.
  std::thread churn([&] {
    XProbe other;
    Display* d = other.display();
    while (!done) {
      std::vector<Window> windows;
      for (int i = 0; i < 4; ++i) {
        Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 100 + i * 30, 100 + i * 30, 300, 200, 0, 0, 0);
        XStoreName(d, w, "Gecici");
        XMapWindow(d, w);
        windows.push_back(w);
      }
      XSync(d, False);
      // Long enough for the window manager to list and focus them now and
      // then, paced so that it keeps up instead of drowning in events.
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      for (Window w : windows) XDestroyWindow(d, w);
      XSync(d, False);
      ++rounds;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });

  struct StopChurn {
    std::atomic<bool>& done;
    std::thread& thread;
    ~StopChurn() {
      done = true;
      if (thread.joinable()) thread.join();
    }
  } stopChurn{done, churn};

  std::map<std::string, int> outcomes;
  const int roundsBefore = rounds;
  for (int pair = 0; pair < 100; ++pair) {
    RunningProgram first(helperLaunch(SCREEN_HELPER_PATH, scratch.path()));
    RunningProgram second(helperLaunch(SCREEN_HELPER_PATH, scratch.path()));
    for (RunningProgram* run : {&first, &second}) {
      const json result = parseResult(expectOneCleanLine(run->finish()));
      expectReportedLoss(result);
      ++outcomes[result.value("ok", false) ? "ok" : result.value("error", "?")];
    }
  }
  const int roundsDuring = rounds - roundsBefore;
  done = true;
  churn.join();
  EXPECT_GT(roundsDuring, 20) << "the windows hardly changed during the runs";
  for (const auto& [outcome, count] : outcomes) RecordProperty(outcome, count);
  // Let the window manager finish with the churn before the session ends.
  XProbe probe;
  EXPECT_TRUE(probe.waitUntil([&] { return probe.stackingBottomToTop() == std::vector<Window>{steady.id()}; }));
}

// A private X server for a test to kill, with windows of its own. However
// it ends, it is killed and reaped, and the lock file and socket a killed
// server leaves behind are removed while they are still its own.
class DoomedServer {
 public:
  // -noreset: a server whose last client leaves starts over, and a client
  // arriving meanwhile is turned away.
  explicit DoomedServer(const std::vector<std::string>& windowOptions)
      : server_(startXServer({"-noreset"}, display_)) {
    if (windowOptions.empty()) return;
    ScopedEnv onServer("DISPLAY", display_.c_str());
    windows_ = std::make_unique<TestWindow>(windowOptions);
  }
  ~DoomedServer() {
    windows_.reset();
    const pid_t pid = server_->pid();
    kill();
    server_->stop();
    const std::string number = display_.substr(1);
    const std::string socketPath = "/tmp/.X11-unix/X" + number;
    const fs::path lock = "/tmp/.X" + number + "-lock";
    const std::string owner = readWholeFile(lock);
    if (owner.empty() || std::atol(owner.c_str()) != pid) return;
    std::error_code ignored;
    fs::remove(socketPath, ignored);
    fs::remove(lock, ignored);
  }
  DoomedServer(const DoomedServer&) = delete;
  DoomedServer& operator=(const DoomedServer&) = delete;

  const std::string& display() const { return display_; }
  pid_t pid() const { return server_->pid(); }
  void kill() { ::kill(server_->pid(), SIGKILL); }

 private:
  std::string display_;
  std::unique_ptr<LiveChild> server_;
  std::unique_ptr<TestWindow> windows_;
};

// Many windows that make the helper ask the server for their owners' pids and
// convert their compound-text titles: the steps where Xlib, not xcb, talks to
// the server.
const std::vector<std::string> kXlibHeavyWindows = {"--count=100", "--size=120x90", "--no-pid",
                                                    "--compound-title=Gül ve Şeker"};

TEST(HelperXServerTrouble, TheServerDyingAtAnyMomentOfARunLeavesOneCleanLine) {
  ScratchDirectory scratch;
  // How long a whole run takes here, so that the kills spread over it
  // whatever the machine's speed (or valgrind's).
  std::chrono::steady_clock::duration runTime;
  {
    DoomedServer survivor(kXlibHeavyWindows);
    const auto start = std::chrono::steady_clock::now();
    const json result = parseResult(
        expectOneCleanLine(runToEnd(helperLaunch(SCREEN_HELPER_PATH, scratch.path(), {}, survivor.display()))));
    runTime = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.value("ok", false), true) << result.dump();
  }
  constexpr int kKills = 16;
  for (int kill = 0; kill < kKills; ++kill) {
    const auto moment = runTime * kill / kKills;
    SCOPED_TRACE("killed after " + std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(moment).count()) +
                 " us of a " +
                 std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(runTime).count()) + " us run");
    DoomedServer doomed(kXlibHeavyWindows);
    RunningProgram helper(helperLaunch(SCREEN_HELPER_PATH, scratch.path(), {}, doomed.display()));
    std::this_thread::sleep_for(moment);
    doomed.kill();
    expectReportedLoss(parseResult(expectOneCleanLine(helper.finish())));
  }
}

TEST(HelperXServerTrouble, AServerThatStopsAnsweringAndDiesGivesNoActiveWindow) {
  ScratchDirectory scratch;
  DoomedServer doomed({});
  ::kill(doomed.pid(), SIGSTOP);
  RunningProgram helper(helperLaunch(SCREEN_HELPER_PATH, scratch.path(), {}, doomed.display()));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(helper.running()) << "the helper cannot have had an answer";
  doomed.kill();
  const json result = parseResult(expectOneCleanLine(helper.finish()));
  expectSubset(result, {{"ok", false}, {"error", "no_active_window"}, {"owner_name", ""}});
}

TEST(HelperXServerTrouble, AServerDyingDuringTheCaptureGivesAFailureAndAQuietEnd) {
  ScratchDirectory scratch;
  DoomedServer doomed({"--title=Son", "--class=Last"});
  // The stand-in kills the server while the helper still holds its
  // connection, waits until it is gone, then runs the real program.
  const std::string pid = std::to_string(doomed.pid());
  HelperBesideFakeProgram copy("kill -KILL " + pid +
                               "\n"
                               "i=0; while [ $i -lt 250 ] && [ \"$(cut -d' ' -f3 /proc/" + pid +
                               "/stat)\" != Z ]; do sleep 0.02; i=$((i+1)); done\n"
                               "exec '" SCREENCAPTURE_PATH "' \"$@\"");
  const json result =
      parseResult(expectOneCleanLine(runToEnd(helperLaunch(copy.helper(), scratch.path(), {}, doomed.display()))));
  expectSubset(result, {{"ok", false}, {"error", "capture_failed"}, {"owner_name", "Last"}, {"window_title", "Son"}});
}

}  // namespace
}  // namespace halvic::e2e
