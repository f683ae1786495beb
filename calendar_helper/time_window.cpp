#include "time_window.h"

namespace halvic {

std::string modeFromArguments(int argc, const char* const* argv) {
  if (argc < 2 || argv[1] == nullptr) return "today";
  return argv[1];
}

namespace {

Instant addDaysOrKeep(const LocalCalendar& cal, Instant base, int days) {
  return cal.addingDays(base, days).value_or(base);
}

// A window of whole local days that begins `offsetDays` after today.
TimeWindow dayWindow(const LocalCalendar& cal, Instant now, int offsetDays, int spanDays) {
  Instant start = cal.startOfDay(now);
  if (offsetDays != 0) start = addDaysOrKeep(cal, start, offsetDays);
  return {start, addDaysOrKeep(cal, start, spanDays)};
}

TimeWindow windowFromNow(const LocalCalendar& cal, Instant now, int spanDays) {
  return {now, addDaysOrKeep(cal, now, spanDays)};
}

}  // namespace

TimeWindow timeWindowFor(std::string_view mode, const LocalCalendar& cal, Instant now) {
  if (mode == "tomorrow") return dayWindow(cal, now, 1, 1);
  if (mode == "week") return dayWindow(cal, now, 0, 7);
  if (mode == "next") return windowFromNow(cal, now, 30);
  if (mode == "agenda") return windowFromNow(cal, now, 3);
  return dayWindow(cal, now, 0, 1);
}

}  // namespace halvic
