#include "container_place.h"

#include <gtest/gtest.h>

namespace halvic::capture {
namespace {

// Which containers may be captured is covered end to end (the refusals in
// tests/wayland); here, output entries no live compositor sends.
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
