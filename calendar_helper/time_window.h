// Which stretch of time a mode word asks for.
#pragma once

#include <string>
#include <string_view>

#include "event_store.h"
#include "instant.h"

namespace halvic {

// The mode word of a run: the first argument after the program's name, taken
// as passed; "today" when there is none.
std::string modeFromArguments(int argc, const char* const* argv);

struct TimeWindow {
  Instant start;
  Instant end;
  friend bool operator==(const TimeWindow&, const TimeWindow&) = default;
};

// The window a mode word names, on `cal` at `now`. "today" (and every word it
// does not know), "tomorrow" and "week" cover whole local days; "next" and
// "agenda" start at `now`. A day addition that yields no date falls back to
// the instant the days were added to.
TimeWindow timeWindowFor(std::string_view mode, const LocalCalendar& cal, Instant now);

}  // namespace halvic
