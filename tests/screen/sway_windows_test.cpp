// The sway backend's reading of the layout tree (captured from a real sway, and
// small trees for the rest), and the choice of the Linux window system.
#include <gtest/gtest.h>

#include <fstream>

#include "sway_windows.h"
#include "window_record.h"
#include "window_system.h"

namespace halvic::sway {
namespace {

using nlohmann::json;

json treesFile(const char* name) { return json::parse(std::ifstream(std::string(SWAY_TREES_DIR "/") + name)); }

std::vector<std::int64_t> numbersOf(const std::vector<LooseValue>& records) {
  std::vector<std::int64_t> numbers;
  for (const LooseValue& record : records) numbers.push_back(cgIntValue(lookup(*record.asMap(), kCGWindowNumber)));
  return numbers;
}

json textOf(const LooseMap& record, std::string_view key) {
  const LooseValue* value = lookup(record, key);
  return value && value->asString() ? json(*value->asString()) : json();
}

json focusedPid(const json& tree) {
  const auto focused = focusedApplication(tree);
  return focused ? json(focused->processIdentifier) : json();
}

// Output 1 (scale 1) shows workspace 2: tiled foot "Beta" (focused), tiled
// Xwayland xterm "Xt", floating foot "Gamma"; its workspace 1 is hidden.
// Output 2 (at x 1280, scale 2) shows a tabbed container whose selected tab is
// "Epsilon" (16), "Delta" (15) behind it.
TEST(SwayWindows, CapturedTreeGivesVisibleWindowsFrontToBack) {
  const json tree = treesFile("two_outputs.json");
  const auto records = windowRecords(tree);
  ASSERT_EQ(numbersOf(records), (std::vector<std::int64_t>{11, 10, 12, 16}));
  const std::tuple<std::size_t, std::int64_t, const char*, const char*, Rect> expected[] = {
      {1, 15189, "footB", "Beta", {2, 27, 636, 691}},
      {2, 15421, "XTermClass", "Xt", {642, 27, 636, 691}},    // Xwayland: the X11 class
      {3, 24154, "footE", "Epsilon", {1282, 27, 796, 571}},  // logical, not the output's pixels
  };
  for (const auto& [index, pid, owner, title, bounds] : expected) {
    const LooseMap& record = *records[index].asMap();
    EXPECT_EQ(cgIntValue(lookup(record, kCGWindowOwnerPID)), pid);
    EXPECT_EQ(textOf(record, kCGWindowOwnerName), owner);
    EXPECT_EQ(textOf(record, kCGWindowName), title);
    EXPECT_EQ(rectFromBounds(*lookup(record, kCGWindowBounds)->asMap()), bounds);
  }
  EXPECT_EQ(focusedPid(tree), 15189);
}

// Each case: a tree, its windows front to back, the focused pid, and for some
// the one record's entries.
TEST(SwayWindows, SmallTreesCoverOrderFocusAndRecords) {
  for (const json& c : treesFile("small_trees.json")) {
    SCOPED_TRACE(c["what"].get<std::string>());
    const auto records = windowRecords(c["tree"]);
    EXPECT_EQ(json(numbersOf(records)), c["windows"]);
    EXPECT_EQ(focusedPid(c["tree"]), c["focused_pid"]);
    if (!c.contains("record")) continue;
    const LooseMap& record = *records.at(0).asMap();
    EXPECT_EQ(cgIntValue(lookup(record, kCGWindowLayer)), c["record"]["layer"]);
    EXPECT_EQ(cgDoubleValue(lookup(record, kCGWindowAlpha)), c["record"]["alpha"]);
    EXPECT_EQ(textOf(record, kCGWindowOwnerName), c["record"]["owner"]);
    EXPECT_EQ(textOf(record, kCGWindowName), c["record"]["title"]);
    EXPECT_EQ(lookup(record, kCGWindowBounds) != nullptr, c["record"]["bounds"]);
  }
}

TEST(WindowSystem, CompositorIpcFirstThenTheXServerScopedBySession) {
  EXPECT_EQ(chooseWindowSystem(true, isWaylandSession(nullptr, nullptr)), WindowSystem::sway);
  EXPECT_EQ(chooseWindowSystem(false, isWaylandSession("wayland-1", nullptr)), WindowSystem::x11FocusedWindowOnly);
  EXPECT_EQ(chooseWindowSystem(false, isWaylandSession(nullptr, "wayland")), WindowSystem::x11FocusedWindowOnly);
  EXPECT_EQ(chooseWindowSystem(false, isWaylandSession("", "x11")), WindowSystem::x11);
  EXPECT_EQ(chooseWindowSystem(false, isWaylandSession(nullptr, "Wayland")), WindowSystem::x11);
}

}  // namespace
}  // namespace halvic::sway
