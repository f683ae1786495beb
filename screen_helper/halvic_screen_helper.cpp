// halvic_screen_helper [mode [output-path]]: captures the window the user is
// working in and reports the outcome as one JSON line on standard output.
// Whatever happens, nothing goes to standard error and the exit status is 0.
#include <unistd.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "capture.h"
#include "desktop.h"
#include "emit.h"
#include "json.h"
#include "screen_run.h"
#include "uuid.h"

int main(int argc, char** argv) {
  using namespace halvic;
  guardStandardStreams();
  // A SIGCHLD ignored by whoever started us would survive exec and make the
  // screenshot program's status unreadable; the default disposition keeps it.
  std::signal(SIGCHLD, SIG_DFL);

  try {
    const std::vector<std::string> args(argv, argv + argc);
    std::unique_ptr<Desktop> desktop = makeSystemDesktop();
    const std::string programPath = desktop->screenshotProgramPath();
    ScreenRunOutcome outcome = runScreenHelper(
        args, *desktop, static_cast<std::int32_t>(::getpid()),
        [&programPath](std::int64_t windowID, const std::string& destination) {
          return captureWindow(programPath, windowID, destination);
        },
        makeUuidString);
    emit(outcome.result, outcome.outputPath);
  } catch (...) {
    // Only resource exhaustion gets here (no step of the run throws by
    // design), at a point the run cannot name, so the host gets the fixed
    // fallback object; an uncaught exception would print to stderr and abort.
    try {
      emitFallback(argc > 2 ? std::string(argv[2]) : std::string());
    } catch (...) {
      emitFallback();
    }
  }
  return 0;
}
