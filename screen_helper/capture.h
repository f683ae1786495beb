// Capturing one window by running the screenshot program as a child process.
#pragma once

#include <cstdint>
#include <string>

namespace halvic {

struct CaptureResult {
  bool success = false;
  std::string message;  // the child's message trimmed, or one of the fixed failure texts
  friend bool operator==(const CaptureResult&, const CaptureResult&) = default;
};

// Runs `programPath -x -o -l <windowID> <destination>` directly (no shell, no
// search path) and waits for it without a time limit; standard input, the
// environment and the working directory are inherited. The child's message is
// its standard error when that is valid UTF-8, else its standard output when
// that is, else empty.
//   cannot start:                   (false, "screencapture_failed: " + the system's error text)
//   exit status or signal not 0:    (false, message)
//   status 0, nothing at the path:  (false, "screenshot_file_missing")
//   otherwise:                      (true, message)
// Never throws for a failure of the child or the system; every outcome is in the result.
CaptureResult captureWindow(const std::string& programPath, std::int64_t windowID, const std::string& destination);

}  // namespace halvic
