#include "capture_plan.h"

#include <gtest/gtest.h>

#include <sstream>

namespace halvic::capture {
namespace {

std::string describe(const CapturePlan& plan) {
  std::ostringstream text;
  text << "scale " << plan.scale << " " << plan.width << "x" << plan.height;
  for (const CapturePiece& p : plan.pieces) {
    text << " | " << p.output << " (" << p.region.x << "," << p.region.y << " " << p.region.width << "x"
         << p.region.height << ") -> (" << p.target.x << "," << p.target.y << " " << p.target.width << "x"
         << p.target.height << ")";
  }
  return text.str();
}

TEST(CapturePlan, PiecesAndScaleFollowTheOutputsTheWindowCovers) {
  const OutputPlace left{"L", {0, 0, 1280, 800}, 1};
  const OutputPlace right{"R", {1280, 0, 800, 500}, 2};
  const OutputPlace offset{"O", {100, 50, 1000, 700}, 1};
  const OutputPlace narrow{"A", {0, 0, 100, 100}, 1};
  const OutputPlace oneAndHalf{"B", {100, 0, 100, 100}, 1.5};
  struct Case {
    const char* name;
    sway::LogicalRect window;
    std::vector<OutputPlace> outputs;
    const char* expected;
  };
  const Case cases[] = {
      {"inside one output, in its own coordinates", {150, 80, 400, 300}, {offset},
       "scale 1 400x300 | O (50,30 400x300) -> (0,0 400x300)"},
      {"scale 2 doubles every side", {1380, 50, 400, 300}, {left, right},
       "scale 2 800x600 | R (100,50 400x300) -> (0,0 800x600)"},
      {"across scales 1 and 2: the larger wins, pieces meet", {1000, 100, 400, 300}, {left, right},
       "scale 2 800x600 | L (1000,100 280x300) -> (0,0 560x600) | R (0,100 120x300) -> (560,0 240x600)"},
      {"hanging off the layout: that part stays black", {-100, 700, 300, 200}, {left},
       "scale 1 300x200 | L (0,700 200x100) -> (100,0 200x100)"},
      {"on no output", {3000, 0, 300, 200}, {left, right}, "scale 1 300x200"},
      {"fractional scale: edges rounded from the window's origin", {99, 10, 3, 1}, {narrow, oneAndHalf},
       "scale 1.5 5x2 | A (99,10 1x1) -> (0,0 2x2) | B (0,10 2x1) -> (2,0 3x2)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(describe(planCapture(c.window, c.outputs)), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace halvic::capture
