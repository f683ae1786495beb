// Copying parts of outputs from a wlroots compositor (the wlr-screencopy
// protocol over the Wayland display the environment names).
#pragma once

#include <chrono>
#include <string>

#include "capture_plan.h"
#include "rgb_image.h"

namespace halvic::capture {

// Captures every piece of `plan` from the next frame of its output, without
// the cursor, into `picture` (plan.width x plan.height, black where no piece
// lands). Returns the empty string on success, otherwise why not. Gives up at
// `deadline`, so a compositor that stops answering cannot hold the program.
std::string copyPieces(const CapturePlan& plan, RgbImage& picture, std::chrono::steady_clock::time_point deadline);

}  // namespace halvic::capture
