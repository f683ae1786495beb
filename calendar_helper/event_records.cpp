#include "event_records.h"

#include <algorithm>
#include <string>

#include "saturating.h"

namespace halvic {

std::int64_t truncatedSeconds(double seconds) { return truncatedToInt64(seconds); }

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
