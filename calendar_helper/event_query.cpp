#include "event_query.h"

#include <exception>
#include <future>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "event_records.h"

namespace halvic {

namespace {

// The query itself, on the query's thread.
QueryAnswer readStore(EventStore& store, const TimeWindow& window) {
  const std::optional<std::vector<StoreCalendar>> calendars = store.eventCalendars();
  if (!calendars) return {.timedOut = false, .unreadable = true, .events = {}};
  StoreEvents found = store.events(window.start, window.end, *calendars);
  // One broken calendar must not hide the others; only when every calendar
  // failed is there nothing true to report. No calendars is no events.
  if (!calendars->empty() && found.calendarsRead == 0) return {.timedOut = false, .unreadable = true, .events = {}};
  sortByStart(found.events);
  return {.timedOut = false, .unreadable = false, .events = std::move(found.events)};
}

}  // namespace

QueryAnswer queryEvents(std::shared_ptr<EventStore> store, TimeWindow window,
                        std::chrono::steady_clock::duration wait) {
  // steady_clock is the monotonic clock, so wall-clock changes do not move it.
  const auto deadline = std::chrono::steady_clock::now() + wait;

  // The promise's shared state and the store are owned by the thread as well,
  // so an answer that comes after the wait is written to live memory.
  std::promise<QueryAnswer> promise;
  std::future<QueryAnswer> answer = promise.get_future();
  std::thread query;
  try {
    query = std::thread([store = std::move(store), window, promise = std::move(promise)]() mutable {
      try {
        promise.set_value(readStore(*store, window));
      } catch (...) {
        promise.set_exception(std::current_exception());
      }
    });
  } catch (const std::system_error&) {
    // No thread to read with: the store cannot be read.
    return {.timedOut = false, .unreadable = true, .events = {}};
  }

  if (answer.wait_until(deadline) != std::future_status::ready) {
    query.detach();
    return {.timedOut = true, .unreadable = false, .events = {}};
  }
  query.join();  // it has answered and is ending
  return answer.get();
}

JsonObject queryResult(const QueryAnswer& answer) {
  if (answer.timedOut) {
    return JsonObject{{"ok", false}, {"error", "timeout"}, {"detail", "Takvim etkinlikleri zaman asimina ugradi."}};
  }
  if (answer.unreadable) {
    return JsonObject{{"ok", false}, {"error", "calendar_unavailable"}, {"detail", "Takvim etkinlikleri okunamadi."}};
  }
  return eventsResult(answer.events);
}

}  // namespace halvic
