// Where a window's pixels come from on a compositor with several outputs,
// and where each part lands in the picture: portable, so the multi-output and
// multi-scale rules are tested without a compositor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sway_tree.h"

namespace halvic::capture {

// An output as the compositor places it: its logical rectangle in global
// coordinates and how many pixels it has per logical unit.
struct OutputPlace {
  std::string name;
  sway::LogicalRect rect;
  double scale = 1;
  int transform = 0;  // wl_output.transform: how its buffer is turned
};

// A rectangle of pixels in the picture.
struct PixelRect {
  std::uint32_t x = 0, y = 0, width = 0, height = 0;
};

// One capture from one output: `region` in that output's own logical
// coordinates, drawn into `target` of the picture.
struct CapturePiece {
  std::string output;
  sway::LogicalRect region;
  PixelRect target;
  int transform = 0;  // the output's
  double scale = 1;   // the output's
};

struct CapturePlan {
  double scale = 1;  // pixels per logical unit in the picture
  std::uint32_t width = 0, height = 0;
  std::vector<CapturePiece> pieces;  // none when the window is on no output
};

// The picture has the largest scale of the outputs the window covers, so no
// part loses detail: a part on an output of smaller scale is enlarged to it
// (a window half on a scale-1, half on a scale-2 output comes out at scale 2).
// Parts on no output stay black. Piece edges are rounded to whole pixels from
// the window's origin, so pieces meet without gaps or overlap.
CapturePlan planCapture(const sway::LogicalRect& window, const std::vector<OutputPlace>& outputs);

}  // namespace halvic::capture
