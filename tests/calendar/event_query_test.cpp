// The event query under its deadline: what a store that answers, fails,
// blocks or answers late leads to, and that a late answer lands in live memory
// (the sanitizer suite runs this) without changing the result.
#include "event_query.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "event_records.h"
#include "fake_event_store.h"

namespace halvic {
namespace {

using namespace std::chrono_literals;
using testing::FakeEventStore;
using testing::titled;

constexpr auto kWait = 200ms;
constexpr auto kLate = 400ms;

const JsonObject kTimeout{{"ok", false}, {"error", "timeout"}, {"detail", "Takvim etkinlikleri zaman asimina ugradi."}};
const JsonObject kUnavailable{
    {"ok", false}, {"error", "calendar_unavailable"}, {"detail", "Takvim etkinlikleri okunamadi."}};

const std::vector<StoreCalendar> kTwo = {{"a", "Is"}, {"b", "Ev"}};
// In the store's order; reported in start order.
const std::vector<StoreEvent> kFound = {titled(7200, "ikinci"), titled(3600, "birinci")};
const JsonObject kEvents = eventsResult({titled(3600, "birinci"), titled(7200, "ikinci")});

struct QueryCase {
  const char* name;
  std::optional<std::vector<StoreCalendar>> calendars;
  std::optional<std::size_t> calendarsRead;  // nullopt: all of them
  std::chrono::milliseconds listingDelay;
  std::chrono::milliseconds fetchDelay;
  bool blockFetch;
  JsonObject expected;
};

const std::vector<QueryCase> kCases = {
    {"everyCalendarRead", kTwo, std::nullopt, 0ms, 0ms, false, kEvents},
    {"oneOfTwoRead", kTwo, 1, 0ms, 0ms, false, kEvents},
    {"noneRead", kTwo, 0, 0ms, 0ms, false, kUnavailable},
    {"calendarsNotListed", std::nullopt, std::nullopt, 0ms, 0ms, false, kUnavailable},
    {"noCalendars", std::vector<StoreCalendar>{}, 0, 0ms, 0ms, false, eventsResult({})},
    {"answeredBeforeTheDeadline", kTwo, std::nullopt, 50ms, 50ms, false, kEvents},
    {"listingPastTheDeadline", kTwo, std::nullopt, kLate, 0ms, false, kTimeout},
    {"fetchPastTheDeadline", kTwo, std::nullopt, 0ms, kLate, false, kTimeout},
    {"failurePastTheDeadline", kTwo, 0, 0ms, kLate, false, kTimeout},
    {"fetchBlocked", kTwo, std::nullopt, 0ms, 0ms, true, kTimeout},
};

void PrintTo(const QueryCase& c, std::ostream* out) { *out << c.name; }

class EventQueryTest : public ::testing::TestWithParam<QueryCase> {};

TEST_P(EventQueryTest, LeadsToItsResult) {
  const QueryCase& c = GetParam();
  auto store = std::make_shared<FakeEventStore>();
  store->calendars = c.calendars;
  store->calendarsRead = c.calendarsRead;
  store->storedEvents = c.calendars && !c.calendars->empty() ? kFound : std::vector<StoreEvent>{};
  store->listingDelay = c.listingDelay;
  store->fetchDelay = c.fetchDelay;
  store->blockFetch = c.blockFetch;
  const TimeWindow window{{1000}, {90000}};

  const auto before = std::chrono::steady_clock::now();
  const QueryAnswer answer = queryEvents(store, window, kWait);
  const auto waited = std::chrono::steady_clock::now() - before;
  const JsonObject result = queryResult(answer);

  EXPECT_EQ(result, c.expected);
  if (answer.timedOut) {
    EXPECT_GE(waited, kWait) << "gave up before the deadline";
    EXPECT_EQ(store->fetchesAnswered, 0) << "the answer came in time after all";
    if (c.blockFetch) store->unblock();
  }
  // The query's thread holds the store until it is done; a late one writes
  // its answer after the run gave up, into state the run no longer reads.
  testing::awaitQueryEnd(store);
  if (c.calendars) {
    EXPECT_EQ(store->fetchesAnswered, 1);
    ASSERT_EQ(store->queries.size(), 1u);
    EXPECT_EQ(store->queries[0].start, window.start);
    EXPECT_EQ(store->queries[0].end, window.end);
  }
}

INSTANTIATE_TEST_SUITE_P(Stores, EventQueryTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace halvic
