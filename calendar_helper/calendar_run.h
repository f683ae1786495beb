// One run of the calendar tool, from mode word to result, over the platform seams.
#pragma once

#include <chrono>
#include <functional>
#include <string_view>

#include "event_store.h"
#include "json.h"

namespace halvic {

struct CalendarRunResult {
  JsonObject result;
  // True when the run stopped at the access step; the entry then ends the
  // process at once instead of returning, since a late completion may still run.
  bool stoppedAtAccess = false;
};

using Clock = std::function<Instant()>;

// The present instant from the system clock.
Instant systemNow();

// Asks `store` for access (waiting at most `accessWait`), then reads `now`
// from `clock`, fixes the window of `mode` on `cal` and reports the store's
// events for it.
CalendarRunResult runCalendarTool(std::string_view mode, EventStore& store, const LocalCalendar& cal,
                                  const Clock& clock, std::chrono::steady_clock::duration accessWait);

}  // namespace halvic
