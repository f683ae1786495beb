// The whole screen helper, started as the host starts it, against a real X
// session: which window it captures, what it reports and the PNG it leaves.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <algorithm>
#include <regex>

#include "e2e_files.h"
#include "png_read.h"
#include "program_launch.h"
#include "refusing_server.h"
#include "test_window_process.h"
#include "x_probe.h"
#include "x_session.h"

namespace halvic::e2e {
namespace {

using nlohmann::json;
using testing::Launch;
using testing::Outcome;
using testing::runToEnd;

// Runs the helper with TMPDIR in a scratch directory; the process must end
// with status 0 and nothing on stderr, whatever it reports.
class HelperRun : public ::testing::Test {
 protected:
  json runHelper(std::vector<std::string> args = {}) {
    ScopedEnv tmpdir("TMPDIR", scratch.path().c_str());
    Launch launch;
    launch.argv = std::move(args);
    launch.argv.insert(launch.argv.begin(), SCREEN_HELPER_PATH);
    const Outcome run = runToEnd(launch);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    lastLine = run.out.substr(0, run.out.find('\n'));
    return json::parse(lastLine);
  }

  // Checks the PNG the helper reported: in the scratch directory, named as the
  // host expects, private, of the window's size and showing its pixels.
  void expectCaptureOf(const json& result, std::uint32_t width, std::uint32_t height) {
    const std::string path = result.at("image_path");
    EXPECT_EQ(std::filesystem::path(path).parent_path(), scratch.path());
    EXPECT_TRUE(std::regex_match(std::filesystem::path(path).filename().string(),
                                 std::regex("halvic-screen-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.png")))
        << path;
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const auto png = readPng(path);
    ASSERT_TRUE(png.has_value());
    ASSERT_EQ(png->width, width);
    ASSERT_EQ(png->height, height);
    std::size_t wrong = 0;
    for (std::uint32_t y = 0; y < height; ++y) {
      for (std::uint32_t x = 0; x < width; ++x) wrong += png->at(x, y) == patternPixel(x, y) ? 0 : 1;
    }
    EXPECT_EQ(wrong, 0u);
  }

  ScratchDirectory scratch;
  std::string lastLine;
};

json boundsOf(Window window, double width, double height) {
  XProbe probe;
  const auto [x, y] = probe.rootOrigin(window);
  return json{{"x", x}, {"y", y}, {"width", width}, {"height", height}};
}

TEST_F(HelperRun, CapturesTheFrontmostApplicationsTitledWindowBeforeItsLargerUntitledOne) {
  // Side by side: without a compositing manager a capture shows what is on
  // screen, so the captured window must not lie under another.
  TestWindow other({"--title=Other app", "--class=Other", "--pid=7002", "--size=300x200", "--pos=1200,700"});
  TestWindow untitled({"--class=Editor", "--pid=7001", "--size=800x500", "--pos=20,20"});
  TestWindow titled({"--title=Notlar — Ağustos", "--class=Editor", "--pid=7001", "--size=321x203", "--pos=900,300"});
  XProbe probe;
  ASSERT_TRUE(probe.activate(untitled.id()));

  const json result = runHelper();
  ASSERT_EQ(result.at("ok"), true) << lastLine;
  EXPECT_EQ(result.at("owner_name"), "Editor");
  EXPECT_EQ(result.at("window_title"), "Notlar — Ağustos");
  EXPECT_EQ(result.at("bounds"), boundsOf(titled.id(), 321, 203));
  EXPECT_EQ(result.at("detail"), "");
  expectCaptureOf(result, 321, 203);
}

TEST_F(HelperRun, FallsBackToTheFrontmostWindowOfAnotherApplication) {
  TestWindow behind({"--title=Behind", "--class=Behind", "--pid=8003", "--size=500x400", "--pos=20,20"});
  TestWindow other({"--title=Rapor", "--class=Other", "--pid=8002", "--size=400x300", "--pos=700,100"});
  // The frontmost application's only window is too small to mean anything.
  TestWindow tiny({"--title=Tiny", "--class=Tiny", "--pid=8001", "--size=60x40", "--pos=1300,800"});
  XProbe probe;
  ASSERT_TRUE(probe.activate(other.id()));
  ASSERT_TRUE(probe.activate(tiny.id()));

  const json result = runHelper();
  ASSERT_EQ(result.at("ok"), true) << lastLine;
  EXPECT_EQ(result.at("owner_name"), "Other");
  EXPECT_EQ(result.at("window_title"), "Rapor");
  expectCaptureOf(result, 400, 300);
}

TEST_F(HelperRun, SkipsWindowsNoUserWouldMean) {
  TestWindow ordinary({"--title=Ordinary", "--class=Ordinary", "--pid=9004", "--size=300x200"});
  TestWindow dock({"--title=Dock", "--class=Panel", "--pid=9001", "--type=DOCK", "--size=800x100"});
  TestWindow ghost({"--title=Ghost", "--class=Ghost", "--pid=9002", "--opacity=0.005", "--size=700x500"});
  TestWindow hidden({"--title=Hidden", "--class=Hidden", "--pid=9003", "--size=600x400"});
  XProbe probe;
  ASSERT_TRUE(probe.iconify(hidden.id()));
  ASSERT_TRUE(probe.activate(ghost.id()));

  const json result = runHelper();
  ASSERT_EQ(result.at("ok"), true) << lastLine;
  EXPECT_EQ(result.at("owner_name"), "Ordinary");
}

TEST_F(HelperRun, ReportsTitlesAsTheWindowsCarryThem) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--title=Plain ASCII title"}, "Plain ASCII title"},
      {{"--title=Şirket Bütçesi — İkinci Çeyrek"}, "Şirket Bütçesi — İkinci Çeyrek"},
      {{"--title=   "}, "   "},
      {{}, ""},
      {{"--legacy-title=Résumé"}, "Résumé"},
  };
  for (const auto& [options, title] : cases) {
    SCOPED_TRACE(title);
    auto withClass = options;
    withClass.push_back("--class=Titles");
    TestWindow window(withClass);
    XProbe probe;
    ASSERT_TRUE(probe.activate(window.id()));
    const json result = runHelper();
    ASSERT_EQ(result.at("ok"), true) << lastLine;
    EXPECT_EQ(result.at("window_title"), title);
    EXPECT_EQ(result.at("owner_name"), "Titles");
  }
}

TEST_F(HelperRun, ReportsNoActiveWindowWhenNothingIsOnScreen) {
  const json result = runHelper();
  EXPECT_EQ(result, (json{{"ok", false},
                          {"error", "no_active_window"},
                          {"detail", "Aktif pencere bulunamadi. Hedef pencereyi one alip tekrar dene."},
                          {"owner_name", ""}}));
}

TEST_F(HelperRun, ReportsNoActiveWindowWithoutADisplay) {
  TestWindow window({"--title=Unreachable"});
  ScopedEnv noDisplay("DISPLAY", nullptr);
  const json result = runHelper();
  EXPECT_EQ(result.at("ok"), false);
  EXPECT_EQ(result.at("error"), "no_active_window");
  EXPECT_EQ(result.at("owner_name"), "");
  EXPECT_TRUE(std::filesystem::is_empty(scratch.path()));
}

TEST_F(HelperRun, ReportsNoActiveWindowSilentlyWhenTheServerRefusesIt) {
  RefusingServer server;
  ScopedEnv display("DISPLAY", server.display().c_str());
  ScopedEnv authority("XAUTHORITY", "/nonexistent");
  const json result = runHelper();
  EXPECT_EQ(result.at("error"), "no_active_window");
  EXPECT_EQ(result.at("owner_name"), "");
}

TEST_F(HelperRun, CopiesItsResultIntoTheOutputFile) {
  TestWindow window({"--title=Copied", "--class=Copy", "--size=200x100"});
  XProbe probe;
  ASSERT_TRUE(probe.activate(window.id()));
  const auto output = scratch.path() / "results" / "nested" / "out.json";
  const json result = runHelper({"capture_active_window", output.string()});
  EXPECT_EQ(result.at("ok"), true) << lastLine;
  EXPECT_EQ(readWholeFile(output), lastLine);
}

}  // namespace
}  // namespace halvic::e2e
