#include "window_selection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "fake_desktop.h"
#include "window_record.h"

namespace halvic {
namespace {

using testing::boundsRecord;
using testing::FakeDesktop;
using testing::windowRecord;
using testing::with;
using testing::without;

constexpr std::int32_t kSelf = 100;
constexpr std::int32_t kApp = 200;
constexpr std::int64_t kBeyond32Bits = std::int64_t{1} << 32;

std::optional<std::int64_t> numberOf(const std::optional<LooseMap>& record) {
  if (!record) return std::nullopt;
  return cgIntValue(lookup(*record, kCGWindowNumber));
}

TEST(VisibleWindows, AppliesEveryFilter) {
  const LooseMap base = windowRecord(1, kApp);
  const auto sized = [&](double width, double height) {
    return with(base, kCGWindowBounds, boundsRecord(0, 0, width, height));
  };
  const struct {
    const char* name;
    LooseMap record;
    bool kept;
  } cases[] = {
      {"ordinary window", base, true},
      {"alpha at threshold", with(base, kCGWindowAlpha, NumberObject::fromDouble(0.01)), false},
      {"alpha just above", with(base, kCGWindowAlpha, NumberObject::fromDouble(0.011)), true},
      {"alpha missing", without(base, kCGWindowAlpha), false},
      {"alpha NaN", with(base, kCGWindowAlpha, std::nan("")), true},
      {"minimum size", sized(80, 60), true},
      {"too narrow", sized(79.5, 600), false},
      {"too low", sized(800, 59.9), false},
      {"negative stored width", sized(-200, 100), true},
      {"NaN width", sized(std::nan(""), 100), false},
      {"layer missing", without(base, kCGWindowLayer), true},
      {"layer 25", with(base, kCGWindowLayer, NumberObject::fromInteger(25)), false},
      {"layer -1", with(base, kCGWindowLayer, NumberObject::fromInteger(-1)), false},
      {"own process", with(base, kCGWindowOwnerPID, NumberObject::fromInteger(kSelf)), false},
      {"pid beyond 32 bits is no process", with(base, kCGWindowOwnerPID, kBeyond32Bits + kSelf), true},
      {"bounds not a map", with(base, kCGWindowBounds, "{0,0,800,600}"), false},
      {"bounds missing", without(base, kCGWindowBounds), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDesktop desktop;
    desktop.windows = {{c.record}};
    EXPECT_EQ(WindowSelection(desktop, kSelf).visibleWindows().size(), c.kept ? 1u : 0u);
  }
}

TEST(VisibleWindows, AnUnreadableListGivesNothingAtAll) {
  FakeDesktop desktop;
  const WindowSelection selection(desktop, kSelf);
  desktop.windows = {{windowRecord(1, kApp), LooseValue("not a record")}};
  EXPECT_FALSE(selection.bestWindow(kApp));
  EXPECT_FALSE(selection.fallbackFrontmostWindow());
  desktop.windows = std::nullopt;
  EXPECT_FALSE(selection.fallbackFrontmostWindow());
  EXPECT_EQ(desktop.windowListReads, 3);  // nothing is cached
}

struct Window {
  std::int64_t number;
  double width;
  double height;
  std::optional<LooseValue> title;
  std::int64_t pid = kApp;
};

TEST(BestWindow, TitledFirstThenLargestThenFrontmost) {
  const struct {
    const char* name;
    std::vector<Window> windows;
    std::optional<std::int64_t> expected;
  } cases[] = {
      {"titled beats larger untitled", {{1, 2000, 2000, {}}, {2, 100, 100, "Notes"}}, 2},
      {"larger titled wins", {{1, 800, 600, "a"}, {2, 1024, 768, "b"}}, 2},
      {"blank title is untitled", {{1, 500, 500, " \r\n\t\u2028"}, {2, 1000, 1000, {}}}, 2},
      {"non-string title is untitled", {{1, 500, 500, NumberObject::fromInteger(5)}, {2, 1000, 1000, {}}}, 2},
      {"equal rank keeps front order", {{1, 800, 600, "a"}, {2, 600, 800, "b"}, {3, 480, 1000, "c"}}, 1},
      {"negative width counts by size", {{1, 150, 100, {}}, {2, -200, 100, {}}}, 2},
      {"other processes ignored", {{1, 3000, 3000, "big", 300}, {2, 100, 100, {}}}, 2},
      {"pid beyond 32 bits ignored", {{1, 3000, 3000, "big", kBeyond32Bits + kApp}, {2, 100, 100, {}}}, 2},
      {"no qualifying window", {{1, 50, 50, "tiny"}, {2, 900, 900, "other", 300}}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDesktop desktop;
    for (const Window& w : c.windows) {
      LooseMap record = windowRecord(w.number, w.pid, w.width, w.height);
      desktop.windows->push_back(w.title ? with(record, kCGWindowName, *w.title) : record);
    }
    EXPECT_EQ(numberOf(WindowSelection(desktop, kSelf).bestWindow(kApp)), c.expected);
  }
}

TEST(FallbackFrontmostWindow, SkipsSystemSurfacesByExactTrimmedName) {
  const struct {
    const char* name;
    std::vector<std::optional<LooseValue>> owners;
    std::optional<std::int64_t> expected;  // index of the returned window
  } cases[] = {
      {"system surfaces skipped", {"Window Server", "Dock", "Control Center", "Safari"}, 3},
      {"trimmed before comparing", {" Dock\n", "\tNotification Center ", "Mail"}, 2},
      {"case-sensitive", {"dock"}, 0},
      {"missing owner is not excluded", {std::nullopt}, 0},
      {"non-string owner reads empty", {NumberObject::fromInteger(1)}, 0},
      {"only system surfaces", {"Control Center", "Notification Center"}, std::nullopt},
      {"no windows", {}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDesktop desktop;
    for (std::size_t i = 0; i < c.owners.size(); ++i) {
      LooseMap record = windowRecord(static_cast<std::int64_t>(i), kApp);
      desktop.windows->push_back(c.owners[i] ? with(record, kCGWindowOwnerName, *c.owners[i]) : record);
    }
    // A window of this process in front never qualifies.
    desktop.windows->insert(desktop.windows->begin(), with(windowRecord(-1, kSelf), kCGWindowOwnerName, "Self"));
    EXPECT_EQ(numberOf(WindowSelection(desktop, kSelf).fallbackFrontmostWindow()), c.expected);
  }
}

}  // namespace
}  // namespace halvic
