#include "event_records.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace halvic {

std::int64_t truncatedSeconds(double seconds) {
  if (std::isnan(seconds)) return 0;
  // 2^63 is exact as a double; converting anything at or beyond it is UB.
  constexpr double kLimit = 9223372036854775808.0;
  if (seconds >= kLimit) return std::numeric_limits<std::int64_t>::max();
  if (seconds < -kLimit) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(seconds);  // truncates toward zero
}

void sortByStart(std::vector<StoreEvent>& events) {
  std::stable_sort(events.begin(), events.end(), [](const StoreEvent& a, const StoreEvent& b) {
    return a.startDate.secondsSince1970 < b.startDate.secondsSince1970;
  });
}

JsonObject eventRecord(const StoreEvent& event) {
  JsonObject record;
  record.set("start_ts", truncatedSeconds(event.startDate.secondsSince1970));
  record.set("end_ts", truncatedSeconds(event.endDate.secondsSince1970));
  record.set("calendar", event.calendarTitle.value_or(""));
  record.set("title", event.title ? *event.title : std::string(kUntitledEvent));
  record.set("location", event.location.value_or(""));
  record.set("all_day", event.isAllDay);
  return record;
}

JsonObject eventsResult(const std::vector<StoreEvent>& events) {
  JsonArray payload;
  payload.reserve(events.size());
  for (const StoreEvent& event : events) payload.emplace_back(eventRecord(event));
  return JsonObject{{"ok", true}, {"events", std::move(payload)}};
}

}  // namespace halvic
