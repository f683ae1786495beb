// halvic_calendar_helper [mode]: prints the user's calendar events for the
// window the mode word names as one JSON line, and exits 0 on every path.
#include <cstdio>
#include <unistd.h>

#include "calendar_access.h"
#include "calendar_run.h"
#include "emit.h"
#include "event_store.h"
#include "time_window.h"

int main(int argc, char** argv) {
  halvic::ignoreBrokenPipe();
  const std::string mode = halvic::modeFromArguments(argc, argv);

  // The store is never destroyed: after a time-out its request may still be
  // running on another thread, and on success the process is about to end.
  // A static pointer keeps it reachable, so leak checkers do not count it.
  static halvic::EventStore* const store = halvic::makeSystemEventStore().release();
  const auto cal = halvic::makeSystemLocalCalendar();

  const halvic::CalendarRunResult run =
      halvic::runCalendarTool(mode, *store, *cal, halvic::systemNow, halvic::kAccessWait);
  halvic::emit(run.result);
  if (run.stoppedAtAccess) {
    // Ends without running destructors or exit handlers while the request's
    // thread may still be inside the platform library.
    std::fflush(stdout);
    _exit(0);
  }
  return 0;
}
