// The GNOME backend's reading of our extension's window list (one captured from a real GNOME Shell 43, small ones
// for the rest), and the choice of the Linux window system when a GNOME Shell is on the session bus.
#include <gtest/gtest.h>

#include <fstream>

#include "shell_windows.h"
#include "window_record.h"

namespace halvic::gnome {
namespace {

using nlohmann::json;

json entriesOf(const LooseMap& record) {
  auto entry = [&record](std::string_view key, auto read) {
    const LooseValue* value = lookup(record, key);
    return value ? read(*value) : json();
  };
  const auto integer = [](const LooseValue& v) { return json(cgIntValue(&v)); };
  const auto text = [](const LooseValue& v) { return v.asString() ? json(*v.asString()) : json(); };
  return {{"number", entry(kCGWindowNumber, integer)},
          {"pid", entry(kCGWindowOwnerPID, integer)},
          {"layer", entry(kCGWindowLayer, integer)},
          {"alpha", entry(kCGWindowAlpha, [](const LooseValue& v) { return json(cgDoubleValue(&v)); })},
          {"owner", entry(kCGWindowOwnerName, text)},
          {"title", entry(kCGWindowName, text)},
          {"bounds", entry(kCGWindowBounds, [](const LooseValue& v) {
             const Rect r = rectFromBounds(*v.asMap());
             return json{r.x, r.y, r.width, r.height};
           })}};
}

json rectJson(const std::optional<LogicalRect>& r) { return r ? json{r->x, r->y, r->width, r->height} : json(); }

// Each case: the extension's list, the numbers of the records front to back, the focused application (pid, owner),
// for some records (by index) the entries that matter, and for some windows (by id) the area the capture takes.
TEST(GnomeWindows, ListsGiveVisibleWindowsFrontToBackFocusAndRecords) {
  for (const json& c : json::parse(std::ifstream(GNOME_WINDOWS))) {
    SCOPED_TRACE(c["what"].get<std::string>());
    const auto records = windowRecords(c["windows"]);
    json numbers = json::array();
    for (const LooseValue& record : records) numbers.push_back(entriesOf(*record.asMap())["number"]);
    EXPECT_EQ(numbers, c["listed"]);
    const auto focused = focusedApplication(c["windows"]);
    const json application = focused ? json{focused->processIdentifier, focused->localizedName.value_or("")} : json();
    EXPECT_EQ(application, c["focused"]);
    for (const auto& [index, expected] : c.at("records").items()) {
      const json entries = entriesOf(*records.at(std::stoul(index)).asMap());
      for (const auto& [key, value] : expected.items()) EXPECT_EQ(entries[key], value) << index << " " << key;
    }
    for (const auto& [id, expected] : c.at("in_frame").items()) {
      const json* window = findWindow(c["windows"], std::stoull(id));
      ASSERT_NE(window, nullptr) << id;
      EXPECT_EQ(rectJson(ownAreaInFrame(*window)), expected) << id;
    }
  }
}

}  // namespace
}  // namespace halvic::gnome
