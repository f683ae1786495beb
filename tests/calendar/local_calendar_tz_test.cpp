// The tz calendar's two operations at the edges the windows do not reach.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <vector>

#include "event_store.h"
#include "zone_fixture.h"

namespace halvic {
namespace {

using testing::at;
using testing::kHour;

TEST(TzStartOfDayTest, FindsTheFirstInstantOfTheLocalDay) {
  struct Case {
    const char* zone;
    Instant t;
    Instant expected;
  };
  const std::vector<Case> cases = {
      {"Asia/Tokyo", at(2026, 5, 1, 0, 0, 9 * kHour), at(2026, 5, 1, 0, 0, 9 * kHour)},  // midnight itself
      {"Asia/Tokyo", at(2026, 5, 1, 23, 59, 9 * kHour, 59), at(2026, 5, 1, 0, 0, 9 * kHour)},
      {"Asia/Tokyo", {at(2026, 5, 1, 0, 0, 9 * kHour).secondsSince1970 - 0.25}, at(2026, 4, 30, 0, 0, 9 * kHour)},
      {"Asia/Beirut", at(2026, 3, 29, 10, 0, 3 * kHour), at(2026, 3, 29, 1, 0, 3 * kHour)},  // skipped midnight
      {"America/Havana", at(2026, 3, 8, 12, 0, -4 * kHour), at(2026, 3, 8, 1, 0, -4 * kHour)},
      {"UTC", at(1969, 12, 31, 12, 0, 0), at(1969, 12, 31, 0, 0, 0)},  // before 1970
  };
  for (const Case& c : cases) {
    testing::ScopedZone zone(c.zone);
    EXPECT_EQ(makeSystemLocalCalendar()->startOfDay(c.t).secondsSince1970, c.expected.secondsSince1970)
        << c.zone << " " << c.t.secondsSince1970;
  }
}

TEST(TzAddingDaysTest, KeepsTheTimeOfDayAndTheFraction) {
  testing::ScopedZone zone("Europe/Berlin");
  const auto cal = makeSystemLocalCalendar();
  const Instant base{at(2026, 3, 28, 9, 15, 1 * kHour).secondsSince1970 + 0.75};
  const auto later = cal->addingDays(base, 1);
  ASSERT_TRUE(later.has_value());
  EXPECT_EQ(later->secondsSince1970, at(2026, 3, 29, 9, 15, 2 * kHour).secondsSince1970 + 0.75);
  EXPECT_EQ(later->secondsSince1970 - base.secondsSince1970, 23 * 3600);
}

TEST(TzAddingDaysTest, ReportsNoDateWhereNoneExists) {
  testing::ScopedZone zone("Europe/Berlin");
  const auto cal = makeSystemLocalCalendar();
  EXPECT_FALSE(cal->addingDays({std::numeric_limits<double>::quiet_NaN()}, 1));
  EXPECT_FALSE(cal->addingDays({std::numeric_limits<double>::infinity()}, 1));
  EXPECT_FALSE(cal->addingDays({1e300}, 1));
  EXPECT_FALSE(cal->addingDays(at(2026, 1, 1, 0, 0, 1 * kHour), INT_MAX));
}

TEST(TzStartOfDayTest, LeavesAnUnrepresentableInstantAlone) {
  testing::ScopedZone zone("Europe/Berlin");
  const auto cal = makeSystemLocalCalendar();
  EXPECT_TRUE(std::isnan(cal->startOfDay({std::numeric_limits<double>::quiet_NaN()}).secondsSince1970));
  EXPECT_EQ(cal->startOfDay({1e300}).secondsSince1970, 1e300);
}

}  // namespace
}  // namespace halvic
