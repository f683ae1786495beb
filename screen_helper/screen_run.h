// One run of the screen tool: from the command line to the result it reports.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "capture.h"
#include "desktop.h"
#include "json.h"

namespace halvic {

// Has the window `windowID` written as an image to `destination`.
using CaptureFunction = std::function<CaptureResult(std::int64_t windowID, const std::string& destination)>;
// A fresh UUID in canonical upper-case text form.
using UuidSource = std::function<std::string()>;

struct ScreenRunOutcome {
  JsonObject result;       // the one result the run reports
  std::string outputPath;  // the file that also receives it; empty for none
};

// Runs the tool for the command line `args` (element 0 the program path, then
// `[mode [output-path]]`): picks the window, has it captured into a new
// "halvic-screen-<UUID>.png" in the desktop's temporary directory, and builds
// one of four results: the capture, "unsupported_mode", "no_active_window",
// or a failed capture ("permission_denied" or "capture_failed").
// `currentPID` is this process; its own windows are never captured.
ScreenRunOutcome runScreenHelper(const std::vector<std::string>& args, Desktop& desktop, std::int32_t currentPID,
                                 const CaptureFunction& captureWindow, const UuidSource& newUuid);

}  // namespace halvic
