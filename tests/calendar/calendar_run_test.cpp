// A whole run over the fake store: the order of its steps and what it reports.
#include "calendar_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "event_records.h"
#include "fake_event_store.h"
#include "zone_fixture.h"

namespace halvic {
namespace {

using namespace std::chrono_literals;
using testing::at;
using testing::FakeEventStore;
using testing::titled;
using testing::kHour;

class CalendarRunTest : public ::testing::Test {
 protected:
  testing::ScopedZone zone_{"Asia/Tokyo"};
  std::unique_ptr<LocalCalendar> cal_ = makeSystemLocalCalendar();
  std::shared_ptr<FakeEventStore> store_ = std::make_shared<FakeEventStore>();
  const Instant now_ = at(2026, 1, 14, 15, 20, 9 * kHour);
  bool clockReadAfterAnswer_ = false;
  Clock clock_ = [this] {
    clockReadAfterAnswer_ = store_->answered;
    return now_;
  };

  CalendarRunResult run(const char* mode) { return runCalendarTool(mode, store_, *cal_, clock_, {200ms, 200ms}); }
};

TEST_F(CalendarRunTest, QueriesTheModesWindowOverEveryCalendarAndReportsInStartOrder) {
  store_->answer = FakeEventStore::Answer::afterDelay;
  store_->delay = 20ms;
  store_->calendars = std::vector<StoreCalendar>{{"a", "Is"}, {"b", std::nullopt}};
  const double day = at(2026, 1, 14, 0, 0, 9 * kHour).secondsSince1970;
  // An event already in progress starts before the window and is kept.
  store_->storedEvents = std::vector<StoreEvent>{titled(day + 9 * 3600, "09"), titled(day + 8 * 3600, "08"),
                                                titled(day + 10 * 3600, "10"), titled(day - 3600, "running")};

  const CalendarRunResult result = run("week");

  EXPECT_FALSE(result.endAtOnce);
  EXPECT_TRUE(clockReadAfterAnswer_);
  ASSERT_EQ(store_->queries.size(), 1u);
  EXPECT_EQ(store_->queries[0].start, at(2026, 1, 14, 0, 0, 9 * kHour));
  EXPECT_EQ(store_->queries[0].end, at(2026, 1, 21, 0, 0, 9 * kHour));
  EXPECT_EQ(store_->queries[0].calendarIds, (std::vector<std::string>{"a", "b"}));
  std::vector<StoreEvent> expected = {titled(day - 3600, "running"), titled(day + 8 * 3600, "08"),
                                      titled(day + 9 * 3600, "09"), titled(day + 10 * 3600, "10")};
  EXPECT_EQ(result.result, eventsResult(expected));
}

// Each store step has its own bound: the query's deadline is taken when the
// query starts, and only a run that gave up on it ends the process at once.
TEST_F(CalendarRunTest, TheQueryIsBoundedFromItsOwnStart) {
  struct Case {
    std::chrono::milliseconds accessDelay;
    std::chrono::milliseconds fetchDelay;
    bool timedOut;
  };
  for (const Case c : {Case{150ms, 100ms, false}, Case{0ms, 400ms, true}}) {
    auto store = std::make_shared<FakeEventStore>();
    store->answer = FakeEventStore::Answer::afterDelay;
    store->delay = c.accessDelay;
    store->fetchDelay = c.fetchDelay;
    const CalendarRunResult result = runCalendarTool("next", store, *cal_, clock_, {200ms, 200ms});
    EXPECT_EQ(result.endAtOnce, c.timedOut);
    EXPECT_EQ(*result.result.find(c.timedOut ? "error" : "ok"), c.timedOut ? JsonValue("timeout") : JsonValue(true));
    testing::awaitQueryEnd(store);
  }
}

TEST_F(CalendarRunTest, AStopAtAccessNeverQueriesOrReadsTheClock) {
  for (auto answer : {FakeEventStore::Answer::insideRequest, FakeEventStore::Answer::never}) {
    auto store = std::make_shared<FakeEventStore>();
    store->answer = answer;
    store->granted = false;
    bool clockRead = false;
    const CalendarRunResult result = runCalendarTool("agenda", store, *cal_, [&] {
      clockRead = true;
      return now_;
    }, {100ms, 100ms});
    EXPECT_TRUE(result.endAtOnce);
    EXPECT_FALSE(clockRead);
    EXPECT_TRUE(store->queries.empty());
    EXPECT_EQ(*result.result.find("ok"), JsonValue(false));
  }
}

}  // namespace
}  // namespace halvic
