#include "calendar_run.h"

#include <utility>

#include "calendar_access.h"
#include "event_query.h"
#include "time_window.h"

namespace halvic {

Instant systemNow() {
  using namespace std::chrono;
  return {duration<double>(system_clock::now().time_since_epoch()).count()};
}

CalendarRunResult runCalendarTool(std::string_view mode, const std::shared_ptr<EventStore>& store,
                                  const LocalCalendar& cal, const Clock& clock, StoreWaits waits) {
  const AccessAnswer access = requestAccess(*store, waits.access);
  if (auto failure = accessFailureResult(access)) return {std::move(*failure), true};
  store->accessGranted();

  // `now` is read only after the answer, so the windows that start at the
  // present start when access was granted.
  const Instant now = clock();
  const TimeWindow window = timeWindowFor(mode, cal, now);

  const QueryAnswer answer = queryEvents(store, window, waits.query);
  return {queryResult(answer), answer.timedOut};
}

}  // namespace halvic
