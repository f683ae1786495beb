// The screenshot program on its own: its command line, its refusal to touch
// anything already at the path, and the pixels it writes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "e2e_files.h"
#include "png_read.h"
#include "program_launch.h"
#include "refusing_server.h"
#include "test_window_process.h"
#include "x_session.h"

namespace halvic::e2e {
namespace {

using testing::Launch;
using testing::Outcome;
using testing::runToEnd;

Outcome capture(const std::vector<std::string>& args) {
  Launch launch;
  // A socket left by a compositor that is gone must not keep the program
  // from the X server.
  launch.environment["SWAYSOCK"] = "/nonexistent/sway-ipc.sock";
  launch.argv = {SCREENCAPTURE_PATH};
  launch.argv.insert(launch.argv.end(), args.begin(), args.end());
  return runToEnd(launch);
}

// A failure is a non-zero status with exactly one line on stderr.
void expectFailure(const Outcome& run) {
  EXPECT_NE(run.exitCode, 0);
  EXPECT_EQ(run.out, "");
  ASSERT_FALSE(run.err.empty());
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
}

TEST(Screencapture, RefusesAnyOtherCommandLine) {
  ScratchDirectory scratch;
  const std::string path = (scratch.path() / "shot.png").string();
  const std::vector<std::vector<std::string>> commandLines = {
      {},
      {"-x", "-o", "-l", "12"},
      {"-x", "-o", "-l", "12", path, "extra"},
      {"-o", "-x", "-l", "12", path},
      {"-x", "-o", "-l12", path},
      {"-x", "-o", "-l", "0", path},
      {"-x", "-o", "-l", "-5", path},
      {"-x", "-o", "-l", "12a", path},
      {"-x", "-o", "-l", "4294967296", path},
      {"-x", "-o", "-l", "12", ""},
  };
  for (const auto& args : commandLines) {
    SCOPED_TRACE(::testing::PrintToString(args));
    expectFailure(capture(args));
    EXPECT_FALSE(std::filesystem::exists(path));
  }
}

TEST(Screencapture, WritesTheWindowAtItsSizeWithItsPixels) {
  ScratchDirectory scratch;
  TestWindow window({"--title=Pixels", "--size=333x211", "--pos=700,500"});
  const std::string path = (scratch.path() / "shot.png").string();
  const Outcome run = capture({"-x", "-o", "-l", std::to_string(window.id()), path});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  const auto png = readPng(path);
  ASSERT_TRUE(png.has_value());
  ASSERT_EQ(png->width, 333u);
  ASSERT_EQ(png->height, 211u);
  std::size_t wrong = 0;
  for (std::uint32_t y = 0; y < png->height; ++y) {
    for (std::uint32_t x = 0; x < png->width; ++x) wrong += png->at(x, y) == patternPixel(x, y) ? 0 : 1;
  }
  EXPECT_EQ(wrong, 0u);
}

TEST(Screencapture, NeverReplacesOrFollowsWhatIsAlreadyAtThePath) {
  ScratchDirectory scratch;
  TestWindow window({"--title=Target"});
  const auto existing = scratch.path() / "existing.png";
  { std::ofstream(existing) << "keep me"; }
  const auto target = scratch.path() / "target.png";
  const auto link = scratch.path() / "link.png";
  std::filesystem::create_symlink(target, link);
  const auto danglingDirectory = scratch.path() / "missing" / "shot.png";

  for (const auto& path : {existing, link, danglingDirectory}) {
    SCOPED_TRACE(path.string());
    expectFailure(capture({"-x", "-o", "-l", std::to_string(window.id()), path.string()}));
  }
  EXPECT_EQ(readWholeFile(existing), "keep me");
  EXPECT_FALSE(std::filesystem::exists(target));
}

TEST(Screencapture, FailsOnWindowsItCannotRead) {
  ScratchDirectory scratch;
  const std::string path = (scratch.path() / "shot.png").string();
  Window gone = None;
  {
    TestWindow window({"--title=Short-lived"});
    gone = window.id();
  }
  expectFailure(capture({"-x", "-o", "-l", std::to_string(gone), path}));
  {
    ScopedEnv noDisplay("DISPLAY", nullptr);
    expectFailure(capture({"-x", "-o", "-l", "4194305", path}));
  }
  {
    RefusingServer refusing;
    ScopedEnv display("DISPLAY", refusing.display().c_str());
    ScopedEnv authority("XAUTHORITY", "/nonexistent");
    expectFailure(capture({"-x", "-o", "-l", "4194305", path}));
  }
  {
    // A server that stopped answering: Xlib would wait for it forever, the
    // program's own deadline ends the wait.
    std::string display;
    const auto frozen = startXServer({}, display);
    kill(frozen->pid(), SIGSTOP);
    ScopedEnv frozenDisplay("DISPLAY", display.c_str());
    expectFailure(capture({"-x", "-o", "-l", "4194305", path}));
    kill(frozen->pid(), SIGCONT);
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace halvic::e2e
