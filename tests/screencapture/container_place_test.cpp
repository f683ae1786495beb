#include "container_place.h"

#include <gtest/gtest.h>

namespace halvic::capture {
namespace {

TEST(ContainerPlace, OnlyAWindowOnScreenHasAnAreaToCapture) {
  const auto tree = nlohmann::json::parse(R"({"id": 1, "nodes": [{"id": 2, "type": "output", "nodes": [
      {"id": 3, "type": "workspace", "rect": {"x": 0, "y": 0, "width": 800, "height": 600},
       "window_rect": {"x": 0, "y": 0, "width": 0, "height": 0}, "nodes": [
        {"id": 7, "pid": 70, "visible": true, "rect": {"x": 10, "y": 20, "width": 400, "height": 300},
         "window_rect": {"x": 2, "y": 24, "width": 396, "height": 274}},
        {"id": 8, "pid": 80, "visible": false, "rect": {"x": 10, "y": 20, "width": 400, "height": 300},
         "window_rect": {"x": 2, "y": 24, "width": 396, "height": 274}}],
       "floating_nodes": [
        {"id": 9, "pid": 90, "visible": true, "rect": {"x": 500, "y": 100, "width": 200, "height": 100},
         "window_rect": {"x": 0, "y": 0, "width": 200, "height": 100}}]}]}]})");
  struct Case {
    std::int64_t id;
    std::string expected;
  };
  const Case cases[] = {
      {7, "12,44 396x274"},  {9, "500,100 200x100"},
      {8, "window 8 is not on screen"},  {3, "container 3 is not a window"},
      {99, "no window 99"},
  };
  for (const Case& c : cases) {
    const auto place = visibleContentArea(tree, c.id);
    const auto* area = std::get_if<sway::LogicalRect>(&place);
    const std::string got = area ? std::to_string(area->x) + "," + std::to_string(area->y) + " " +
                                       std::to_string(area->width) + "x" + std::to_string(area->height)
                                 : std::get<std::string>(place);
    EXPECT_EQ(got, c.expected) << c.id;
  }
}

TEST(ContainerPlace, OutputsThatShowNothingOrAreMalformedAreLeftOut) {
  const auto outputs = nlohmann::json::parse(R"([
      {"name": "A", "active": true, "scale": 1.5, "transform": "flipped-270",
       "rect": {"x": 0, "y": 0, "width": 1280, "height": 720}},
      {"name": "F", "active": true, "scale": 1, "transform": "sideways",
       "rect": {"x": 0, "y": 720, "width": 1280, "height": 720}},
      {"name": "B", "active": false, "scale": 1, "rect": {"x": 0, "y": 0, "width": 0, "height": 0}},
      {"name": "C", "active": true, "scale": 1, "rect": {"x": 1280, "y": 0, "width": "wide", "height": 720}},
      {"name": "D", "active": true, "rect": {"x": 1280, "y": 0, "width": 640, "height": 480}},
      "not an output",
      {"name": "E", "active": true, "scale": 2, "rect": {"x": -640, "y": 0, "width": 640, "height": 480}}])");
  const auto places = activeOutputs(outputs);
  ASSERT_EQ(places.size(), 2u);
  EXPECT_EQ(places[0].name, "A");
  EXPECT_EQ(places[0].scale, 1.5);
  EXPECT_EQ(places[0].rect.width, 1280);
  EXPECT_EQ(places[0].transform, 7);
  EXPECT_EQ(places[1].transform, 0);
  EXPECT_EQ(places[1].name, "E");
  EXPECT_EQ(places[1].rect.x, -640);
}

}  // namespace
}  // namespace halvic::capture
