// The event query and its bounded wait: calendars, then their events.
#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include "event_store.h"
#include "json.h"
#include "time_window.h"

namespace halvic {

// How long a run waits for the whole query, as it waits for access.
inline constexpr std::chrono::seconds kQueryWait{8};

// What the main thread knows once its wait for the query is over.
struct QueryAnswer {
  bool timedOut = false;
  // The calendars could not be listed, or there were some and none of them
  // could be read.
  bool unreadable = false;
  std::vector<StoreEvent> events;  // of the calendars read, in start order
};

// Lists the calendars of `store` and fetches their events for `window` on a
// thread of its own, and waits for that until `wait` has passed on the
// monotonic clock, counted from this call. A query still running then is left
// to itself: it holds its own reference to `store` and to the state it
// reports into, so it only ever touches live memory, and what it finds later
// is never looked at.
QueryAnswer queryEvents(std::shared_ptr<EventStore> store, TimeWindow window,
                        std::chrono::steady_clock::duration wait);

// The run's result for a query's answer: the events in start order, or the
// "timeout" or "calendar_unavailable" error.
JsonObject queryResult(const QueryAnswer& answer);

}  // namespace halvic
