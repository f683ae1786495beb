// The screenshot program on a headless sway (with Xwayland) with outputs of
// scale 1 and 2 and a turned one: a window's pixels at its output's scale,
// taken through the compositor's IPC and wlr-screencopy, run as the desktop's
// user.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>

#include <fstream>

#include "png_read.h"
#include "sway_ipc.h"
#include "sway_session.h"
#include "sway_tree.h"

namespace halvic::wayland {
namespace {

namespace fs = std::filesystem;
using e2e::patternPixel;
using e2e::readPng;

// HEADLESS-1: 1280x800 at scale 1; HEADLESS-2: 1600x1000 at scale 2, so
// 800x500 logical units to the right of the first; HEADLESS-3: 800x600
// turned by 90 degrees (600x800 logical units) below the first.
const SwayOptions kOutputs{
    {{1280, 800, 1, 0, 0}, {1600, 1000, 2, 1280, 0}, {800, 600, 1, 0, 800, "90"}}, true};

SwaySession& sway() { return SwaySessionEnvironment::session(); }

// A fresh workspace on `output`, so windows of earlier tests cannot change
// this test's layout.
void freshWorkspace(const std::string& output) {
  static int next = 10;
  sway().command("focus output " + output + "; workspace number " + std::to_string(++next));
}

sway::LogicalRect contentAreaOf(std::int64_t id) {
  const auto tree = sway().tree();
  return *sway::contentArea(*sway::findNode(tree, id));
}

testing::Outcome capture(const std::string& window, const fs::path& path,
                         const std::map<std::string, std::string>& environment = {}) {
  testing::Launch launch = sway().launch({SCREENCAPTURE_PATH, "-x", "-o", "-l", window, path.string()});
  for (const auto& [name, value] : environment) launch.environment[name] = value;
  return testing::runToEnd(launch, std::chrono::seconds(20));
}

// A Wayland socket that takes connections into its backlog and never
// answers, as a compositor hung in its main loop.
class SilentDisplay {
 public:
  explicit SilentDisplay(const fs::path& path) : path_(path), fd_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(fd_, 8) != 0 ||
        chmod(path.c_str(), 0777) != 0) {
      throw std::runtime_error("cannot listen on " + path.string());
    }
  }
  ~SilentDisplay() {
    close(fd_);
    unlink(path_.c_str());
  }

 private:
  fs::path path_;
  int fd_;
};

// A failure is a non-zero status with exactly one line on stderr.
void expectFailure(const testing::Outcome& run) {
  EXPECT_FALSE(run.timedOut);
  EXPECT_NE(run.exitCode, 0);
  EXPECT_EQ(run.out, "");
  ASSERT_FALSE(run.err.empty());
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
}

// Pixels of `png` within [x0, x1) x [y0, y1) that are not the client's
// pattern at the same place.
std::size_t patternMismatches(const e2e::DecodedPng& png, std::uint32_t x0, std::uint32_t x1) {
  std::size_t wrong = 0;
  for (std::uint32_t y = 0; y < png.height; ++y) {
    for (std::uint32_t x = x0; x < x1; ++x) wrong += png.at(x, y) == patternPixel(x, y) ? 0 : 1;
  }
  return wrong;
}

// Exact pixels at scale 1 and 2, and upright from an output turned by 90
// degrees, whose buffer holds them turned.
TEST(WaylandScreencapture, WritesATiledWindowAtItsOutputsScale) {
  struct Case {
    std::string output;
    int scale;
  };
  for (const Case& c : {Case{"HEADLESS-1", 1}, Case{"HEADLESS-2", 2}, Case{"HEADLESS-3", 1}}) {
    SCOPED_TRACE(c.output);
    freshWorkspace(c.output);
    const std::string name = "tiled-" + c.output;
    auto client = sway().startClient({COLOUR_WINDOW_PATH, "--app-id=" + name, "--scale=" + std::to_string(c.scale)});
    const std::int64_t id = sway().waitForColourWindow(name);
    const sway::LogicalRect area = contentAreaOf(id);
    const fs::path path = sway().userDirectory() / "shot.png";

    const testing::Outcome run = capture(std::to_string(id), path);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_uid, sway().user());
    const auto png = readPng(path.string());
    ASSERT_TRUE(png.has_value());
    ASSERT_EQ(png->width, area.width * c.scale);
    ASSERT_EQ(png->height, area.height * c.scale);
    EXPECT_EQ(patternMismatches(*png, 0, png->width), 0u);
  }
}

// An X11 window under Xwayland is a container like any other.
TEST(WaylandScreencapture, WritesAnXwaylandWindow) {
  freshWorkspace("HEADLESS-1");
  sway().command("for_window [class=\"XPattern\"] floating enable");
  auto client = sway().startClient({TEST_WINDOW_PATH, "--class=XPattern", "--size=333x211"});
  const std::int64_t id = sway().waitForWindow("XPattern");
  const fs::path path = sway().userDirectory() / "shot.png";

  const testing::Outcome run = capture(std::to_string(id), path);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto png = readPng(path.string());
  ASSERT_TRUE(png.has_value());
  ASSERT_EQ(png->width, 333u);
  ASSERT_EQ(png->height, 211u);
  EXPECT_EQ(patternMismatches(*png, 0, png->width), 0u);
}

// A window across both outputs comes out at the larger scale: exact pixels on
// the scale-2 side, each scale-1 pixel enlarged to a 2x2 block on the other.
TEST(WaylandScreencapture, AWindowAcrossOutputsTakesTheLargerScale) {
  freshWorkspace("HEADLESS-1");
  sway().command("for_window [app_id=\"straddling\"] \"floating enable, move absolute position 1000 100\"");
  auto client = sway().startClient({COLOUR_WINDOW_PATH, "--app-id=straddling", "--scale=2", "--size=400x300"});
  const std::int64_t id = sway().waitForColourWindow("straddling");
  const sway::LogicalRect area = contentAreaOf(id);
  ASSERT_EQ(area.width, 400);
  ASSERT_LT(area.x, 1280);
  ASSERT_GT(area.x + area.width, 1280);
  const fs::path path = sway().userDirectory() / "shot.png";

  const testing::Outcome run = capture(std::to_string(id), path);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto png = readPng(path.string());
  ASSERT_TRUE(png.has_value());
  ASSERT_EQ(png->width, area.width * 2);
  ASSERT_EQ(png->height, area.height * 2);
  const auto seam = static_cast<std::uint32_t>(1280 - area.x) * 2;
  EXPECT_EQ(patternMismatches(*png, seam, png->width), 0u);
  std::size_t unlikeBlocks = 0, blackBlocks = 0;
  for (std::uint32_t y = 0; y + 1 < png->height; y += 2) {
    for (std::uint32_t x = 0; x + 1 < seam; x += 2) {
      const e2e::Rgb p = png->at(x, y);
      unlikeBlocks += p == png->at(x + 1, y) && p == png->at(x, y + 1) && p == png->at(x + 1, y + 1) ? 0 : 1;
      blackBlocks += p == e2e::Rgb{0, 0, 0} ? 1 : 0;
    }
  }
  EXPECT_EQ(unlikeBlocks, 0u);
  EXPECT_LT(blackBlocks, std::size_t{seam} * png->height / 4 / 2);
}

// Each refusal: one line on stderr, a non-zero status, nothing written.
TEST(WaylandScreencapture, RefusesWhatItCannotCaptureTruthfully) {
  freshWorkspace("HEADLESS-1");
  auto hidden = sway().startClient({COLOUR_WINDOW_PATH, "--app-id=hidden"});
  const std::int64_t hiddenId = sway().waitForColourWindow("hidden");
  const auto workspaceId = [] {
    const auto workspaces = nlohmann::json::parse(
        sway::request(sway().ipcSocket(), sway::IpcMessage::GetWorkspaces, {}, std::chrono::seconds(5)).payload);
    return workspaces.at(0).at("id").get<std::int64_t>();
  }();
  freshWorkspace("HEADLESS-1");  // the window's workspace is no longer shown
  auto shown = sway().startClient({COLOUR_WINDOW_PATH, "--app-id=shown"});
  const std::int64_t shownId = sway().waitForColourWindow("shown");

  struct Case {
    std::string name;
    std::int64_t id;
    bool existingFile = false;
  };
  const std::vector<Case> cases = {
      {"no such container", 999999},
      {"a workspace, no window", workspaceId},
      {"a window on a workspace no output shows", hiddenId},
      {"a file already at the path", shownId, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = sway().userDirectory() / "shot.png";
    if (c.existingFile) std::ofstream(path) << "keep me";
    expectFailure(capture(std::to_string(c.id), path));
    if (c.existingFile) {
      std::ifstream in(path);
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep me");
    } else {
      EXPECT_FALSE(fs::exists(path));
    }
  }
}

// A compositor that stops answering fails the capture in bounded time
// instead of holding the program: stopped altogether (its IPC silent, and
// Xwayland, where the program then turns, stuck behind it), or answering its
// IPC while its Wayland display stays silent.
TEST(WaylandScreencapture, GivesUpOnACompositorThatStopsAnswering) {
  freshWorkspace("HEADLESS-1");
  auto client = sway().startClient({COLOUR_WINDOW_PATH, "--app-id=frozen"});
  const std::string id = std::to_string(sway().waitForColourWindow("frozen"));
  {
    const fs::path path = sway().userDirectory() / "shot.png";
    struct Thaw {
      ~Thaw() { kill(sway().pid(), SIGCONT); }
    } thaw;
    ASSERT_EQ(kill(sway().pid(), SIGSTOP), 0);
    expectFailure(capture(id, path));
    EXPECT_FALSE(fs::exists(path));
  }
  {
    const fs::path path = sway().userDirectory() / "shot.png";
    SilentDisplay silent(sway().runtimeDirectory() / "silent-0");
    expectFailure(capture(id, path, {{"WAYLAND_DISPLAY", "silent-0"}}));
    EXPECT_FALSE(fs::exists(path));
  }
}

}  // namespace
}  // namespace halvic::wayland

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new halvic::wayland::SwaySessionEnvironment(halvic::wayland::kOutputs));
  return RUN_ALL_TESTS();
}
