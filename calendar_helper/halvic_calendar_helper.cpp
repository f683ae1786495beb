// halvic_calendar_helper [mode]: prints the user's calendar events for the
// window the mode word names as one JSON line, and exits 0 on every path.
#include <unistd.h>

#include <memory>

#include "calendar_access.h"
#include "calendar_run.h"
#include "emit.h"
#include "event_query.h"
#include "event_store.h"
#include "time_window.h"

int main(int argc, char** argv) {
  using namespace halvic;
  guardStandardStreams();
  bool endAtOnce = true;
  try {
    const std::string mode = modeFromArguments(argc, argv);

    // The store is never destroyed: after a time-out its request or its query
    // may still be running on another thread, and on success the process is
    // about to end. A static pointer keeps it reachable, so leak checkers do
    // not count it.
    static const auto* const store = new std::shared_ptr<EventStore>(makeSystemEventStore());
    const auto cal = makeSystemLocalCalendar();

    const CalendarRunResult run =
        runCalendarTool(mode, *store, *cal, systemNow, {.access = kAccessWait, .query = kQueryWait});
    endAtOnce = run.endAtOnce;
    emit(run.result);
  } catch (...) {
    // Only resource exhaustion gets here; an uncaught exception would print
    // to stderr and abort. The host still gets one well-formed line.
    emitFallback();
  }
  if (endAtOnce) {
    // Ends without running destructors or exit handlers while a thread of
    // the store may still be inside the platform library. The line is already
    // written: emit does not buffer.
    _exit(0);
  }
  return 0;
}
