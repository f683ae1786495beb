#include "calendar_run.h"

#include <utility>
#include <vector>

#include "calendar_access.h"
#include "event_records.h"
#include "time_window.h"

namespace halvic {

Instant systemNow() {
  using namespace std::chrono;
  return {duration<double>(system_clock::now().time_since_epoch()).count()};
}

CalendarRunResult runCalendarTool(std::string_view mode, EventStore& store, const LocalCalendar& cal,
                                  const Clock& clock, std::chrono::steady_clock::duration accessWait) {
  const AccessAnswer answer = requestAccess(store, accessWait);
  if (auto failure = accessFailureResult(answer)) return {std::move(*failure), true};

  // `now` is read only after the answer, so the windows that start at the
  // present start when access was granted.
  const Instant now = clock();
  const TimeWindow window = timeWindowFor(mode, cal, now);

  const std::vector<StoreCalendar> calendars = store.eventCalendars().value_or(std::vector<StoreCalendar>{});
  std::vector<StoreEvent> events = store.events(window.start, window.end, calendars).value_or(std::vector<StoreEvent>{});
  sortByStart(events);
  return {eventsResult(events), false};
}

}  // namespace halvic
