// The sway backend's reading of the layout tree (one captured from a real sway,
// small ones for the rest), and the choice of the Linux window system.
#include <gtest/gtest.h>

#include <fstream>

#include "sway_windows.h"
#include "window_record.h"
#include "window_system.h"

namespace halvic::sway {
namespace {

using nlohmann::json;

std::vector<std::int64_t> numbersOf(const std::vector<LooseValue>& records) {
  std::vector<std::int64_t> numbers;
  for (const LooseValue& record : records) numbers.push_back(cgIntValue(lookup(*record.asMap(), kCGWindowNumber)));
  return numbers;
}

json textOf(const LooseMap& record, std::string_view key) {
  const LooseValue* value = lookup(record, key);
  return value && value->asString() ? json(*value->asString()) : json();
}

json entriesOf(const LooseMap& record) {
  const LooseValue* bounds = lookup(record, kCGWindowBounds);
  const Rect r = bounds ? rectFromBounds(*bounds->asMap()) : Rect{};
  return {{"pid", cgIntValue(lookup(record, kCGWindowOwnerPID))}, {"layer", cgIntValue(lookup(record, kCGWindowLayer))},
          {"alpha", cgDoubleValue(lookup(record, kCGWindowAlpha))}, {"owner", textOf(record, kCGWindowOwnerName)},
          {"title", textOf(record, kCGWindowName)}, {"bounds", bounds ? json{r.x, r.y, r.width, r.height} : json()}};
}

// Each case: a tree, its windows front to back, the focused pid, and for some
// records (by index) the entries that matter.
TEST(SwayWindows, TreesGiveVisibleWindowsFrontToBackFocusAndRecords) {
  for (const json& c : json::parse(std::ifstream(SWAY_TREES))) {
    SCOPED_TRACE(c["what"].get<std::string>());
    const auto records = windowRecords(c["tree"]);
    EXPECT_EQ(json(numbersOf(records)), c["windows"]);
    const auto focused = focusedApplication(c["tree"]);
    EXPECT_EQ(focused ? json(focused->processIdentifier) : json(), c["focused_pid"]);
    for (const auto& [index, expected] : c.at("records").items()) {
      const json entries = entriesOf(*records.at(std::stoul(index)).asMap());
      for (const auto& [key, value] : expected.items()) EXPECT_EQ(entries[key], value) << index << " " << key;
    }
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
