// The sway backend's reading of the layout tree: which windows are on screen,
// in which order, and what each record says. A tree captured from a real
// headless sway, plus small trees for what that one does not show.
#include "sway_windows.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "window_record.h"

namespace halvic::sway {
namespace {

using nlohmann::json;

std::vector<std::int64_t> numbersOf(const std::vector<LooseValue>& records) {
  std::vector<std::int64_t> numbers;
  for (const LooseValue& record : records) numbers.push_back(cgIntValue(lookup(*record.asMap(), kCGWindowNumber)));
  return numbers;
}

const LooseMap& recordNumbered(const std::vector<LooseValue>& records, std::int64_t number) {
  for (const LooseValue& record : records) {
    if (cgIntValue(lookup(*record.asMap(), kCGWindowNumber)) == number) return *record.asMap();
  }
  throw std::runtime_error("no record numbered " + std::to_string(number));
}

std::optional<std::string> textOf(const LooseMap& record, std::string_view key) {
  const LooseValue* value = lookup(record, key);
  return value && value->asString() ? std::optional(*value->asString()) : std::nullopt;
}

// Two outputs side by side (the second at x 1280, scale 2). Output 1 shows
// workspace 2: tiled foot "Beta" (focused), tiled Xwayland xterm "Xt",
// floating foot "Gamma"; its workspace 1 with "Alpha başlık" is hidden.
// Output 2 shows workspace 3: a tabbed container whose selected tab is
// "Epsilon" (16), "Delta" (15) behind it.
json capturedTree() {
  std::ifstream file(SWAY_TREES_DIR "/two_outputs.json");
  return json::parse(file);
}

TEST(SwayWindows, CapturedTreeGivesVisibleWindowsFrontToBack) {
  const auto records = windowRecords(capturedTree());
  EXPECT_EQ(numbersOf(records), (std::vector<std::int64_t>{11, 10, 12, 16}));

  const struct {
    std::int64_t number;
    std::int64_t pid;
    const char* owner;
    const char* title;
    Rect bounds;
  } expected[] = {
      {10, 15189, "footB", "Beta", {2, 27, 636, 691}},
      {12, 15421, "XTermClass", "Xt", {642, 27, 636, 691}},  // Xwayland: the X11 class
      {16, 24154, "footE", "Epsilon", {1282, 27, 796, 571}},  // logical, not the output's pixels
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(e.title);
    const LooseMap& record = recordNumbered(records, e.number);
    EXPECT_EQ(cgIntValue(lookup(record, kCGWindowOwnerPID)), e.pid);
    EXPECT_EQ(textOf(record, kCGWindowOwnerName), e.owner);
    EXPECT_EQ(textOf(record, kCGWindowName), e.title);
    EXPECT_EQ(rectFromBounds(*lookup(record, kCGWindowBounds)->asMap()), e.bounds);
    EXPECT_EQ(cgIntValue(lookup(record, kCGWindowLayer)), 0);
    EXPECT_EQ(cgDoubleValue(lookup(record, kCGWindowAlpha)), 1.0);
  }

  const auto focused = focusedApplication(capturedTree());
  ASSERT_TRUE(focused);
  EXPECT_EQ(focused->processIdentifier, 15189);
  EXPECT_EQ(focused->localizedName, "footB");
}

// A window: id, extra members merged in.
json view(std::int64_t id, json extra = json::object()) {
  json node = {{"id", id},
               {"type", "con"},
               {"name", "w" + std::to_string(id)},
               {"app_id", "app" + std::to_string(id)},
               {"pid", 1000 + id},
               {"focused", false},
               {"rect", {{"x", 0}, {"y", 0}, {"width", 400}, {"height", 300}}},
               {"window_rect", {{"x", 0}, {"y", 0}, {"width", 400}, {"height", 300}}},
               {"nodes", json::array()},
               {"floating_nodes", json::array()},
               {"focus", json::array()}};
  node.update(extra);
  return node;
}

json container(std::string type, std::int64_t id, json nodes, json focus, json extra = json::object()) {
  json node = {{"id", id},    {"type", std::move(type)},    {"name", std::to_string(id)}, {"focused", false},
               {"nodes", std::move(nodes)}, {"floating_nodes", json::array()}, {"focus", std::move(focus)}};
  node.update(extra);
  return node;
}

json oneOutput(json workspaces, json focus, json extra = json::object()) {
  json output = container("output", 2, std::move(workspaces), std::move(focus), extra);
  output["name"] = "OUT-1";
  return container("root", 1, json::array({output}), json::array({2}));
}

TEST(SwayWindows, SmallTreesCoverOrderFocusAndRecords) {
  json floating = view(31, {{"type", "floating_con"}});
  json withFloating = container("workspace", 3, json::array({view(30)}), json::array({30, 31}));
  withFloating["floating_nodes"] = json::array({floating});
  json fullscreenBehindFloating = container("workspace", 3, json::array({view(30, {{"fullscreen_mode", 1}})}),
                                            json::array({31, 30}));
  fullscreenBehindFloating["floating_nodes"] = json::array({floating});

  const struct {
    const char* what;
    json tree;
    std::vector<std::int64_t> order;
    std::optional<std::int64_t> focusedPid;
  } cases[] = {
      {"floating above tiled even when the tiled window was focused last",
       oneOutput(json::array({withFloating}), json::array({3}), {{"current_workspace", "3"}}), {31, 30}, {}},
      {"a fullscreen window in front of floating ones",
       oneOutput(json::array({fullscreenBehindFloating}), json::array({3})), {30, 31}, {}},
      {"the empty visible workspace hides the other one's windows; it has the focus",
       oneOutput(json::array({container("workspace", 3, json::array(), json::array(), {{"focused", true}}),
                              container("workspace", 4, json::array({view(40)}), json::array({40}))}),
                 json::array({4, 3}), {{"current_workspace", "3"}}),
       {}, std::nullopt},
      {"without current_workspace the output's last focused workspace shows",
       oneOutput(json::array({container("workspace", 3, json::array({view(30)}), json::array({30})),
                              container("workspace", 4, json::array({view(40)}), json::array({40}))}),
                 json::array({4, 3})),
       {40}, {}},
      {"a focused split container stands for its last focused window",
       oneOutput(json::array({container(
                     "workspace", 3,
                     json::array({container("con", 5, json::array({view(50), view(51)}), json::array({51, 50}),
                                            {{"focused", true}})}),
                     json::array({5}))}),
                 json::array({3})),
       {51, 50}, 1051},
      {"windows the compositor marks invisible (tabs behind) are left out; the scratchpad too",
       container("root", 1,
                 json::array({container("output", 2,
                                        json::array({container("workspace", 3, json::array({view(30)}),
                                                               json::array({30}))}),
                                        json::array({3}), {{"name", "__i3"}}),
                              container("output", 6,
                                        json::array({container("workspace", 7,
                                                               json::array({view(70, {{"visible", false}}),
                                                                            view(71, {{"focused", true}})}),
                                                               json::array({71, 70}))}),
                                        json::array({7}))}),
                 json::array({6, 2})),
       {71}, 1071},
      {"not a tree", json::array({view(30)}), {}, std::nullopt},
      {"children that are not lists or objects", json{{"type", "root"}, {"nodes", 7}, {"focus", "x"}}, {}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(numbersOf(windowRecords(c.tree)), c.order);
    const auto focused = focusedApplication(c.tree);
    EXPECT_EQ(focused ? std::optional(focused->processIdentifier) : std::nullopt, c.focusedPid);
  }
}

TEST(SwayWindows, RecordsKeepOnlyWhatTheTreeTells) {
  const struct {
    const char* what;
    json extra;
    std::int64_t layer;
    double alpha;
    std::optional<std::string> owner;
    std::optional<std::string> title;
    bool bounds;
  } cases[] = {
      {"Wayland toplevel", json::object(), 0, 1.0, "app30", "w30", true},
      {"opacity", {{"opacity", 0.5}}, 0, 0.5, "app30", "w30", true},
      {"no name, no app_id", {{"name", nullptr}, {"app_id", nullptr}}, 0, 1.0, std::nullopt, std::nullopt, true},
      {"Xwayland dialog",
       {{"app_id", nullptr}, {"window_properties", {{"class", "Gimp"}, {"window_type", "dialog"}}}}, 0, 1.0,
       "Gimp", "w30", true},
      {"Xwayland tooltip",
       {{"app_id", nullptr}, {"window_properties", {{"class", "Gimp"}, {"window_type", "tooltip"}}}}, 200, 1.0,
       "Gimp", "w30", true},
      {"no window_rect", {{"window_rect", nullptr}}, 0, 1.0, "app30", "w30", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto records = windowRecords(oneOutput(
        json::array({container("workspace", 3, json::array({view(30, c.extra)}), json::array({30}))}),
        json::array({3})));
    ASSERT_EQ(records.size(), 1u);
    const LooseMap& record = *records[0].asMap();
    EXPECT_EQ(cgIntValue(lookup(record, kCGWindowLayer)), c.layer);
    EXPECT_EQ(cgDoubleValue(lookup(record, kCGWindowAlpha)), c.alpha);
    EXPECT_EQ(textOf(record, kCGWindowOwnerName), c.owner);
    EXPECT_EQ(textOf(record, kCGWindowName), c.title);
    EXPECT_EQ(lookup(record, kCGWindowBounds) != nullptr, c.bounds);
  }
}

}  // namespace
}  // namespace halvic::sway
