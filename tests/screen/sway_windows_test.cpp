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

// Sway's IPC first, then in a Wayland session KWin, then a GNOME Shell (a
// frozen one too: bounded, and never a guess from the X server), then the X
// server, scoped by the session.
TEST(WindowSystem, CompositorIpcThenKWinThenGnomeShellThenTheXServerScopedBySession) {
  using enum GnomeShellProbe;
  using enum WindowSystem;
  const struct {
    bool sway;
    const char *waylandDisplay, *sessionType;
    bool kwin;
    GnomeShellProbe gnome;
    WindowSystem chosen;
  } cases[] = {
      {true, nullptr, nullptr, false, absent, sway},  {false, nullptr, "wayland", false, absent, x11FocusedWindowOnly},
      {true, "wayland-1", nullptr, true, extensionAnswers, sway},  {false, nullptr, "Wayland", false, absent, x11},
      {false, "wayland-1", nullptr, false, absent, x11FocusedWindowOnly},  {false, "", "x11", false, absent, x11},
      {false, "wayland-0", nullptr, true, absent, kwin},  {false, "wayland-0", nullptr, false, extensionAnswers, gnome},
      {false, "wayland-0", nullptr, true, extensionMissing, kwin},  {false, "wayland-0", nullptr, false, silent, gnome},
      {false, "wayland-0", nullptr, false, extensionMissing, gnomeWithoutExtension},
      {false, nullptr, "x11", true, absent, x11},  // KWin on X11: the X server tells all
      {false, nullptr, "x11", false, extensionAnswers, x11},  // GNOME on X11 likewise
  };
  for (const auto& c : cases) {
    const SessionProbes probes{.swayAnswers = c.sway,
                               .waylandSession = isWaylandSession(c.waylandDisplay, c.sessionType),
                               .kwinServesDisplay = c.kwin,
                               .gnomeShell = c.gnome};
    EXPECT_EQ(chooseWindowSystem(probes), c.chosen) << &c - cases;
  }
}

}  // namespace
}  // namespace halvic::sway
