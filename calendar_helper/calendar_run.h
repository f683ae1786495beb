// One run of the calendar tool, from mode word to result, over the platform seams.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string_view>

#include "event_store.h"
#include "json.h"

namespace halvic {

struct CalendarRunResult {
  JsonObject result;
  // True when the run stopped at the access step or at the query's deadline:
  // the store may still be working on another thread, so the entry ends the
  // process at once instead of returning.
  bool endAtOnce = false;
};

using Clock = std::function<Instant()>;

// How long a run waits on the store, for each of its two steps.
struct StoreWaits {
  std::chrono::steady_clock::duration access;
  std::chrono::steady_clock::duration query;
};

// The present instant from the system clock.
Instant systemNow();

// Asks `store` for access, then reads `now` from `clock`, fixes the window of
// `mode` on `cal` and reports the store's events for it, each store step
// bounded by its wait.
CalendarRunResult runCalendarTool(std::string_view mode, const std::shared_ptr<EventStore>& store,
                                  const LocalCalendar& cal, const Clock& clock, StoreWaits waits);

}  // namespace halvic
