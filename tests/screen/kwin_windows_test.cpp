// The KWin backend's reading of our script's report, its window numbers, and where KWin is chosen.
#include <gtest/gtest.h>

#include "kwin_session.h"
#include "kwin_windows.h"
#include "window_layers.h"
#include "window_record.h"

namespace halvic::kwin {
namespace {

// As window_list.js reports it (from a real KWin 5.27, shortened): frontmost first.
constexpr const char* kReport = R"({"active":"{b}","windows":[
 {"id":"{a}","pid":11,"caption":"küçük","resourceClass":"dolphin","desktopFileName":"org.kde.dolphin",
  "area":{"x":10,"y":20,"width":300.5,"height":200},"kind":"normal","opacity":0.5,"minimized":false,"hidden":false,
  "onCurrentDesktop":true},
 {"id":"{b}","pid":22,"caption":"X pencere","resourceClass":"xterm","desktopFileName":"",
  "area":{"x":-5,"y":0,"width":640,"height":480},"kind":"dock","opacity":1,"minimized":false,"hidden":false,
  "onCurrentDesktop":true},
 {"id":"{c}","pid":33,"caption":"minimized","minimized":true,"onCurrentDesktop":true},
 {"id":"{d}","pid":44,"caption":"elsewhere","onCurrentDesktop":false},
 {"id":"{e}","pid":55,"caption":"hidden","hidden":true,"onCurrentDesktop":true},
 {"id":"{f}","caption":"no pid","kind":"desktopWindow","onCurrentDesktop":true}]})";

std::int64_t intAt(const LooseMap& record, std::string_view key) { return cgIntValue(lookup(record, key)); }

TEST(KWinWindows, RecordsOfTheWindowsOnScreenFrontmostFirst) {
  const auto list = parseWindowList(kReport);
  ASSERT_TRUE(list.has_value());
  const std::vector<LooseValue> records = windowRecords(*list);
  ASSERT_EQ(records.size(), 3u);  // minimized, other desktop and hidden windows are not on screen
  struct Row {
    std::string uuid, owner, title;
    std::int64_t pid, layer;
    double alpha;
    Rect bounds;
  };
  const Row rows[] = {{"{a}", "org.kde.dolphin", "küçük", 11, kNormalLayer, 0.5, {10, 20, 300.5, 200}},
                      {"{b}", "xterm", "X pencere", 22, kDockLayer, 1.0, {-5, 0, 640, 480}},
                      {"{f}", "", "no pid", 0, kDesktopLayer, 1.0, {}}};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(rows[i].uuid);
    const LooseMap& record = *records[i].asMap();
    EXPECT_EQ(intAt(record, kCGWindowNumber), windowNumber(rows[i].uuid));
    EXPECT_EQ(*lookup(record, kCGWindowOwnerName)->asString(), rows[i].owner);
    EXPECT_EQ(*lookup(record, kCGWindowName)->asString(), rows[i].title);
    EXPECT_EQ(intAt(record, kCGWindowOwnerPID), rows[i].pid);
    EXPECT_EQ(lookup(record, kCGWindowOwnerPID) != nullptr, rows[i].pid != 0);
    EXPECT_EQ(intAt(record, kCGWindowLayer), rows[i].layer);
    EXPECT_EQ(cgDoubleValue(lookup(record, kCGWindowAlpha)), rows[i].alpha);
    const LooseValue* bounds = lookup(record, kCGWindowBounds);
    EXPECT_EQ(bounds ? rectFromBounds(*bounds->asMap()) : Rect{}, rows[i].bounds);
  }
}

TEST(KWinWindows, KindsOfWindowOnLayers) {
  const std::pair<std::string, std::int64_t> kinds[] = {
      {"normal", kNormalLayer},      {"", kNormalLayer},         {"dock", kDockLayer},
      {"specialWindow", kStatusLayer}, {"tooltip", kHelpLayer}, {"popupMenu", kPopUpMenuLayer},
      {"notification", kStatusLayer}, {"splash", kOverlayLayer}};
  for (const auto& [kind, layer] : kinds) {
    SCOPED_TRACE(kind);
    const auto list = parseWindowList(R"({"windows":[{"id":"{a}","onCurrentDesktop":true,"kind":")" + kind + "\"}]}");
    ASSERT_TRUE(list && list->windows.size() == 1);
    EXPECT_EQ(intAt(*windowRecords(*list).at(0).asMap(), kCGWindowLayer), layer);
  }
}

TEST(KWinWindows, TheFocusedApplicationIsTheActiveWindowsProcess) {
  struct Row {
    std::string report;
    std::optional<std::int32_t> pid;
    std::string name;
  };
  const Row rows[] = {
      {kReport, 22, "xterm"},
      {R"({"active":"","windows":[{"id":"{a}","pid":1}]})", std::nullopt, ""},
      {R"({"active":"{z}","windows":[{"id":"{a}","pid":1}]})", std::nullopt, ""},
      {R"({"active":"{a}","windows":[{"id":"{a}","resourceClass":"x"}]})", -1, "x"},
      {R"({"active":"{a}","windows":[{"id":"{a}","pid":4294967296,"desktopFileName":"d"}]})", -1, "d"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.report);
    const auto focused = focusedApplication(*parseWindowList(row.report));
    ASSERT_EQ(focused.has_value(), row.pid.has_value());
    if (!focused) continue;
    EXPECT_EQ(focused->processIdentifier, *row.pid);
    EXPECT_EQ(focused->localizedName, row.name);
  }
}

TEST(KWinWindows, OnlyAReportIsRead) {
  const std::pair<const char*, bool> rows[] = {{"", false},     {"not json", false},           {"{}", false},
                                               {"[]", false},   {R"({"windows":{}})", false},   {R"({"windows":[]})", true},
                                               {R"({"windows":[1, "x"]})", true}};
  for (const auto& [text, isReport] : rows) {
    SCOPED_TRACE(text);
    const auto list = parseWindowList(text);
    EXPECT_EQ(list.has_value(), isReport);
    EXPECT_TRUE(!list || list->windows.empty());
  }
}

// The number is FNV-1a over the uuid's text; the screenshot program matches it the same way.
TEST(KWinWindows, WindowNumbersAreTheUuidsHash) {
  EXPECT_EQ(windowNumber(""), 2166136261u);
  EXPECT_EQ(windowNumber("a"), 0xe40c292cu);
  EXPECT_NE(windowNumber("{46cb5bab-e0d8-476f-8c72-5fa8764fff68}"),
            windowNumber("{46cb5bab-e0d8-476f-8c72-5fa8764fff69}"));
}

TEST(KWinSession, KWinServesTheDisplayItOrItsWrapperListensOn) {
  EXPECT_TRUE(servesDisplay(100, 100, 0));
  EXPECT_TRUE(servesDisplay(90, 100, 90));
  EXPECT_FALSE(servesDisplay(90, 100, 0));
  EXPECT_FALSE(servesDisplay(0, 0, 0));
  EXPECT_EQ(waylandSocketPath("wayland-1", "/run/user/1"), "/run/user/1/wayland-1");
  EXPECT_EQ(waylandSocketPath(nullptr, "/run/user/1"), "/run/user/1/wayland-0");
  EXPECT_EQ(waylandSocketPath("", "/run/user/1"), "/run/user/1/wayland-0");
  EXPECT_EQ(waylandSocketPath("/tmp/w", nullptr), "/tmp/w");
  EXPECT_EQ(waylandSocketPath("wayland-0", "relative"), "");
}

}  // namespace
}  // namespace halvic::kwin
