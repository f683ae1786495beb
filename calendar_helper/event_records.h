// The order in which events are reported and the record each one becomes.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "event_store.h"
#include "json.h"

namespace halvic {

// The title reported for an event that has none.
inline constexpr std::string_view kUntitledEvent = "Adsiz etkinlik";

// Whole seconds, the fraction dropped toward zero (12.9 -> 12, -1.5 -> -1).
// Values past the int64 range saturate at its ends; NaN gives 0.
std::int64_t truncatedSeconds(double seconds);

// Ascending by start instant only; events that start together keep the
// store's order.
void sortByStart(std::vector<StoreEvent>& events);

// The six entries reported for one event: start_ts, end_ts, calendar, title,
// location, all_day.
JsonObject eventRecord(const StoreEvent& event);

// {"ok": true, "events": [records]} for events already in reporting order.
JsonObject eventsResult(const std::vector<StoreEvent>& events);

}  // namespace halvic
