// The window of every mode word, on the real tz calendar in zones with and
// without daylight saving, and the fallbacks when no date exists.
#include "time_window.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "zone_fixture.h"

namespace halvic {
namespace {

using testing::at;
using testing::kHour;

struct WindowCase {
  const char* name;
  const char* zone;
  const char* mode;
  Instant now;
  Instant start;
  Instant end;
};

// Offsets: Tokyo +9, Istanbul +3, Berlin +1/+2, New York -5/-4,
// Santiago -4/-3 (skips midnight in September), Havana -4/-5 (repeated
// midnight on 2 November 2025; a past change, so later rules cannot move it).
const std::vector<WindowCase> kWindowCases = {
    {"today", "Asia/Tokyo", "today", at(2026, 1, 14, 15, 20, 9 * kHour), at(2026, 1, 14, 0, 0, 9 * kHour),
     at(2026, 1, 15, 0, 0, 9 * kHour)},
    {"tomorrow", "Asia/Tokyo", "tomorrow", at(2026, 1, 14, 15, 20, 9 * kHour), at(2026, 1, 15, 0, 0, 9 * kHour),
     at(2026, 1, 16, 0, 0, 9 * kHour)},
    {"week", "Asia/Tokyo", "week", at(2026, 1, 14, 15, 20, 9 * kHour), at(2026, 1, 14, 0, 0, 9 * kHour),
     at(2026, 1, 21, 0, 0, 9 * kHour)},
    {"next", "Asia/Tokyo", "next", at(2026, 1, 14, 15, 20, 9 * kHour), at(2026, 1, 14, 15, 20, 9 * kHour),
     at(2026, 2, 13, 15, 20, 9 * kHour)},
    {"agenda", "Asia/Tokyo", "agenda", at(2026, 1, 14, 15, 20, 9 * kHour), at(2026, 1, 14, 15, 20, 9 * kHour),
     at(2026, 1, 17, 15, 20, 9 * kHour)},
    {"unknownWordIsToday", "Asia/Tokyo", "yesterday", at(2026, 1, 14, 15, 20, 9 * kHour),
     at(2026, 1, 14, 0, 0, 9 * kHour), at(2026, 1, 15, 0, 0, 9 * kHour)},
    {"capitalsAreNotTheWord", "Asia/Tokyo", "Tomorrow", at(2026, 1, 14, 15, 20, 9 * kHour),
     at(2026, 1, 14, 0, 0, 9 * kHour), at(2026, 1, 15, 0, 0, 9 * kHour)},
    {"leadingBlankIsNotTheWord", "Asia/Tokyo", " week", at(2026, 1, 14, 15, 20, 9 * kHour),
     at(2026, 1, 14, 0, 0, 9 * kHour), at(2026, 1, 15, 0, 0, 9 * kHour)},
    {"emptyWordIsToday", "Asia/Tokyo", "", at(2026, 1, 14, 15, 20, 9 * kHour), at(2026, 1, 14, 0, 0, 9 * kHour),
     at(2026, 1, 15, 0, 0, 9 * kHour)},
    {"weekLateMonday", "Europe/Istanbul", "week", at(2026, 1, 12, 23, 59, 3 * kHour),
     at(2026, 1, 12, 0, 0, 3 * kHour), at(2026, 1, 19, 0, 0, 3 * kHour)},
    {"tomorrowCarriesIntoMonth", "Europe/Istanbul", "tomorrow", at(2026, 1, 31, 10, 0, 3 * kHour),
     at(2026, 2, 1, 0, 0, 3 * kHour), at(2026, 2, 2, 0, 0, 3 * kHour)},
    {"tomorrowCarriesIntoYear", "Europe/Istanbul", "tomorrow", at(2026, 12, 31, 23, 59, 3 * kHour),
     at(2027, 1, 1, 0, 0, 3 * kHour), at(2027, 1, 2, 0, 0, 3 * kHour)},
    {"nextCarriesIntoLeapFebruary", "Europe/Istanbul", "next", at(2028, 2, 10, 8, 0, 3 * kHour),
     at(2028, 2, 10, 8, 0, 3 * kHour), at(2028, 3, 11, 8, 0, 3 * kHour)},
    {"todayOf23Hours", "Europe/Berlin", "today", at(2026, 3, 29, 12, 0, 2 * kHour), at(2026, 3, 29, 0, 0, 1 * kHour),
     at(2026, 3, 30, 0, 0, 2 * kHour)},
    {"todayOf25Hours", "Europe/Berlin", "today", at(2026, 10, 25, 12, 0, 1 * kHour),
     at(2026, 10, 25, 0, 0, 2 * kHour), at(2026, 10, 26, 0, 0, 1 * kHour)},
    {"agendaOver71Hours", "Europe/Berlin", "agenda", at(2026, 3, 27, 10, 0, 1 * kHour),
     at(2026, 3, 27, 10, 0, 1 * kHour), at(2026, 3, 30, 10, 0, 2 * kHour)},
    {"agendaOver73Hours", "America/New_York", "agenda", at(2026, 10, 30, 10, 0, -4 * kHour),
     at(2026, 10, 30, 10, 0, -4 * kHour), at(2026, 11, 2, 10, 0, -5 * kHour)},
    {"agendaIntoGapMovesForward", "America/New_York", "agenda", at(2026, 3, 5, 2, 30, -5 * kHour),
     at(2026, 3, 5, 2, 30, -5 * kHour), at(2026, 3, 8, 3, 30, -4 * kHour)},
    // The day starts at 01:00; a day later keeps that time of day.
    {"todayWhenMidnightIsSkipped", "America/Santiago", "today", at(2026, 9, 6, 12, 0, -3 * kHour),
     at(2026, 9, 6, 1, 0, -3 * kHour), at(2026, 9, 7, 1, 0, -3 * kHour)},
    {"tomorrowWhenMidnightIsSkipped", "America/Santiago", "tomorrow", at(2026, 9, 5, 10, 0, -4 * kHour),
     at(2026, 9, 6, 1, 0, -3 * kHour), at(2026, 9, 7, 1, 0, -3 * kHour)},
    {"todayWhenMidnightRepeats", "America/Havana", "today", at(2025, 11, 2, 12, 0, -5 * kHour),
     at(2025, 11, 2, 0, 0, -4 * kHour), at(2025, 11, 3, 0, 0, -5 * kHour)},
};

class WindowTest : public ::testing::TestWithParam<WindowCase> {};

TEST_P(WindowTest, CoversTheModesDays) {
  const WindowCase& c = GetParam();
  testing::ScopedZone zone(c.zone);
  const auto cal = makeSystemLocalCalendar();
  const TimeWindow window = timeWindowFor(c.mode, *cal, c.now);
  EXPECT_EQ(window.start.secondsSince1970, c.start.secondsSince1970);
  EXPECT_EQ(window.end.secondsSince1970, c.end.secondsSince1970);
}

INSTANTIATE_TEST_SUITE_P(Zones, WindowTest, ::testing::ValuesIn(kWindowCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A calendar on which no day can be added, with days starting on the hour.
class NoDatesCalendar final : public LocalCalendar {
 public:
  Instant startOfDay(Instant t) const override { return {t.secondsSince1970 - 3600}; }
  std::optional<Instant> addingDays(Instant, int) const override { return std::nullopt; }
};

TEST(WindowFallbackTest, AnAdditionWithoutDateKeepsItsBase) {
  const NoDatesCalendar cal;
  const Instant now{100000.5};
  const Instant dayStart{100000.5 - 3600};
  struct Expectation {
    const char* mode;
    TimeWindow window;
  };
  for (const auto& [mode, window] : std::vector<Expectation>{{"today", {dayStart, dayStart}},
                                                             {"tomorrow", {dayStart, dayStart}},
                                                             {"week", {dayStart, dayStart}},
                                                             {"next", {now, now}},
                                                             {"agenda", {now, now}}}) {
    EXPECT_EQ(timeWindowFor(mode, cal, now), window) << mode;
  }
}

TEST(ModeFromArgumentsTest, ReadsOnlyTheFirstArgument) {
  const char* none[] = {"helper"};
  const char* one[] = {"helper", "week"};
  const char* more[] = {"helper", "tomorrow", "week", "extra"};
  const char* empty[] = {"helper", ""};
  EXPECT_EQ(modeFromArguments(1, none), "today");
  EXPECT_EQ(modeFromArguments(2, one), "week");
  EXPECT_EQ(modeFromArguments(4, more), "tomorrow");
  EXPECT_EQ(modeFromArguments(2, empty), "");
}

}  // namespace
}  // namespace halvic
