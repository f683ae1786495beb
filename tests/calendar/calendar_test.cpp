// The calendar tool's logic: time windows on the real tz calendar, and the
// access step, the event query and the whole run over a fake store.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <fstream>
#include <future>
#include <thread>

#include "calendar_access.h"
#include "calendar_run.h"
#include "event_query.h"
#include "event_records.h"
#include "time_window.h"

namespace halvic {
namespace {

using namespace std::chrono_literals;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

void useZone(const char* zone) {
  setenv("TZ", zone, 1);
  tzset();
}

// "2026-01-14 15:20:00 +9": a local wall time and its UTC offset in hours.
double at(const char* text) {
  int y, m, d, h, mi, s, offset;
  EXPECT_EQ(std::sscanf(text, "%d-%d-%d %d:%d:%d %d", &y, &m, &d, &h, &mi, &s, &offset), 7) << text;
  const std::chrono::sys_days day{std::chrono::year(y) / m / d};
  return static_cast<double>(day.time_since_epoch().count()) * 86400 + (h - offset) * 3600 + mi * 60 + s;
}

TEST(TimeWindow, CoversTheModesDaysInZonesWithAndWithoutDaylightSaving) {
  std::ifstream rows(TIME_WINDOWS);
  ASSERT_TRUE(rows.is_open()) << TIME_WINDOWS;
  for (std::string row; std::getline(rows, row);) {
    char zone[32], mode[16], now[32], start[32], end[32];
    if (row.starts_with('#')) continue;
    ASSERT_EQ(std::sscanf(row.c_str(), "%31[^|]|%15[^|]|%31[^|]|%31[^|]|%31[^|]", zone, mode, now, start, end), 5);
    useZone(zone);
    EXPECT_EQ(timeWindowFor(mode, *makeSystemLocalCalendar(), {at(now)}), (TimeWindow{{at(start)}, {at(end)}})) << row;
  }
}

TEST(TimeWindow, TzCalendarKeepsTheFractionAndHasNoDateForInstantsBeyondItsRange) {
  useZone("Europe/Berlin");
  const auto cal = makeSystemLocalCalendar();
  EXPECT_EQ(cal->addingDays({at("2026-03-28 09:15:00 +1") + 0.75}, 1), Instant{at("2026-03-29 09:15:00 +2") + 0.75});
  EXPECT_EQ(cal->startOfDay({at("1969-12-31 12:00:00 +1") - 0.25}), Instant{at("1969-12-31 00:00:00 +1")});
  EXPECT_TRUE(std::isnan(cal->startOfDay({kNaN}).secondsSince1970));
  EXPECT_EQ(cal->startOfDay({1e300}), Instant{1e300});
  for (double t : {kNaN, std::numeric_limits<double>::infinity(), 1e300}) EXPECT_FALSE(cal->addingDays({t}, 1)) << t;
  EXPECT_FALSE(cal->addingDays({0}, INT_MAX));
  const char* argv[] = {"helper", "tomorrow", "week"};  // only the first argument is the mode
  EXPECT_EQ(modeFromArguments(1, argv), "today");
  EXPECT_EQ(modeFromArguments(3, argv), "tomorrow");
}

StoreEvent event(double start, std::optional<std::string> title = "t", double end = 0) {
  return {{start}, {end}, "Is", std::move(title), std::nullopt, false};
}

// Sorted by start only, ties (talks that start together, more than a sort keeps in order by chance, each one ending
// later and titled earlier) in the store's order; six entries each, defaults only for absent values.
TEST(EventRecords, SortedByStartWithSixEntriesEach) {
  std::vector<StoreEvent> events = {event(9, "nine"), event(-1.5, "before 1970")};
  std::vector<std::string> titles, expected = {"before 1970", "nine"};
  for (char c = 'Z'; c > 'E'; --c) events.push_back(event(8, *expected.emplace(expected.end() - 1, 1, c), 'Z' - c));
  sortByStart(events);
  for (const StoreEvent& e : events) titles.push_back(*e.title);
  EXPECT_EQ(titles, expected);
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max(), kMin = std::numeric_limits<std::int64_t>::min();
  for (const auto& [seconds, expected] : {std::pair{12.9, std::int64_t{12}}, {-1.5, -1}, {-0.0, 0}, {0x1p63, kMax},
                                          {9223372036854774784.0, 9223372036854774784}, {-1e300, kMin}, {kNaN, 0}}) {
    EXPECT_EQ(truncatedSeconds(seconds), expected) << seconds;
  }
  const StoreEvent e{{1768400000.75}, {1768403600.2}, "Is", "Toplantı: \"Çalışma\"", "Kadıköy", true};
  EXPECT_EQ(eventRecord(e), (JsonObject{{"start_ts", std::int64_t{1768400000}}, {"end_ts", std::int64_t{1768403600}},
                                        {"calendar", "Is"}, {"title", "Toplantı: \"Çalışma\""},
                                        {"location", "Kadıköy"}, {"all_day", true}}));
  EXPECT_EQ(eventRecord(StoreEvent{}), (JsonObject{{"start_ts", std::int64_t{0}}, {"end_ts", std::int64_t{0}},
                                                   {"calendar", ""}, {"title", "Adsiz etkinlik"},
                                                   {"location", ""}, {"all_day", false}}));
  EXPECT_EQ(*eventRecord(event(0, " ")).find("title"), JsonValue(" "));
}

// How a fake store answers: access inside the request, later from another
// thread, or never, and each query step after a delay.
struct StoreSetup {
  std::optional<std::chrono::milliseconds> answerAfter = 0ms;  // nullopt: never
  EventStore::AccessOutcome access = EventStore::AccessOutcome::granted;
  std::optional<std::string> error = {};
  std::optional<std::vector<StoreCalendar>> calendars = std::vector<StoreCalendar>{{"a", "Is"}, {"b", std::nullopt}};
  std::optional<std::size_t> calendarsRead = {};  // nullopt: every calendar asked
  std::chrono::milliseconds listingDelay = 0ms, fetchDelay = 0ms;
  std::vector<StoreEvent> stored = {event(7200, "ikinci"), event(3600, "birinci")};
};

struct FakeEventStore final : EventStore {
  explicit FakeEventStore(StoreSetup setup) : s(std::move(setup)) {}
  const StoreSetup s;
  std::atomic<bool> answered = false;
  std::vector<std::size_t> queries;  // how many calendars each query asked
  std::atomic<bool> toldOfGrant = false;  // until then it lists no calendars, as EventKit's store does
  std::future<void> lateAnswer;  // waited for on destruction, so it writes to live memory

  void requestFullAccessToEvents(AccessCompletion completion) override {
    auto answer = [this, completion = std::move(completion)] {
      std::this_thread::sleep_for(*s.answerAfter);
      answered = true;
      completion(s.access, s.error);
    };
    if (s.answerAfter == 0ms) answer();
    else if (s.answerAfter) lateAnswer = std::async(std::launch::async, std::move(answer));
  }
  void accessGranted() override { toldOfGrant = true; }
  std::optional<std::vector<StoreCalendar>> eventCalendars() override {
    std::this_thread::sleep_for(s.listingDelay);
    return toldOfGrant ? s.calendars : std::vector<StoreCalendar>{};
  }
  StoreEvents events(Instant, Instant, const std::vector<StoreCalendar>& asked) override {
    queries.push_back(asked.size());
    std::this_thread::sleep_for(s.fetchDelay);
    return {asked.empty() ? std::vector<StoreEvent>{} : s.stored, s.calendarsRead.value_or(asked.size())};
  }
};

JsonObject failure(const char* e, const char* detail) { return {{"ok", false}, {"error", e}, {"detail", detail}}; }
const JsonObject kEvents = eventsResult({event(3600, "birinci"), event(7200, "ikinci")});

// Each store step has its own bound, the query's from its own start. Only a
// run that stopped at access or gave up on its query ends the process at once;
// a stop at access neither reads the clock nor queries, and the clock is read
// after the answer; the query asks every calendar.
TEST(CalendarRun, EachStepLeadsToItsResultWithinItsOwnBound) {
  const JsonObject accessTimeout = failure("timeout", "Takvim izin istegi zaman asimina ugradi.");
  const JsonObject queryTimeout = failure("timeout", "Takvim etkinlikleri zaman asimina ugradi.");
  const JsonObject unavailable = failure("calendar_unavailable", "Takvim etkinlikleri okunamadi.");
  const JsonObject noStore = failure("calendar_unavailable", "Takvim deposuna ulasilamadi.");
  using Access = EventStore::AccessOutcome;
  const std::vector<StoreCalendar> one{{"a", "Is"}};
  const char* refusal = "Erişim reddedildi: \"takvim\"";
  const struct {
    StoreSetup setup;
    std::optional<JsonObject> failed = {};
  } cases[] = {
      {{.answerAfter = 150ms, .error = "Bir sorun oldu", .calendarsRead = 1, .listingDelay = 50ms, .fetchDelay = 50ms}},
      {{.fetchDelay = 400ms}, queryTimeout},
      {{.calendars = one, .listingDelay = 400ms}, queryTimeout},
      {{.calendars = one, .calendarsRead = 0, .fetchDelay = 400ms}, queryTimeout},
      {{.calendars = one, .calendarsRead = 0}, unavailable},
      {{.calendars = std::nullopt}, unavailable},
      {{.calendars = std::vector<StoreCalendar>{}}, eventsResult({})},
      {{.access = Access::refused}, failure("permission_denied", "")},
      {{.answerAfter = 20ms, .access = Access::refused, .error = refusal}, failure("permission_denied", refusal)},
      {{.access = Access::unavailable}, noStore},
      {{.answerAfter = 20ms, .access = Access::unavailable, .error = "Cannot autolaunch D-Bus"}, noStore},
      {{.answerAfter = std::nullopt}, accessTimeout},
      {{.answerAfter = 400ms}, accessTimeout},
  };
  const Instant now{at("2026-01-14 15:00:00 +9")};
  std::shared_ptr<FakeEventStore> store;
  bool clockReadAfterAnswer = false;
  const Clock clock = [&] {
    clockReadAfterAnswer = store->answered;
    return now;
  };
  for (const auto& c : cases) {
    const auto before = std::chrono::steady_clock::now();
    store = std::make_shared<FakeEventStore>(c.setup);
    clockReadAfterAnswer = false;
    const CalendarRunResult result = runCalendarTool("next", store, *makeSystemLocalCalendar(), clock, {200ms, 200ms});
    // Waits until the query thread, given up on or not, has let go of the store.
    for (int i = 0; i < 2000 && store.use_count() > 1; ++i) std::this_thread::sleep_for(5ms);
    const bool pastAccess = c.setup.access == Access::granted && c.setup.answerAfter.value_or(1s) < 200ms;
    EXPECT_EQ(result.result, c.failed.value_or(kEvents)) << "case " << &c - cases;
    EXPECT_EQ(result.endAtOnce, !pastAccess || c.failed == queryTimeout) << "case " << &c - cases;
    const bool timedOut = c.failed == accessTimeout || c.failed == queryTimeout;
    EXPECT_TRUE(!timedOut || std::chrono::steady_clock::now() - before >= 200ms) << "gave up early";
    EXPECT_EQ(clockReadAfterAnswer, pastAccess);
    EXPECT_EQ(store->toldOfGrant, pastAccess);
    EXPECT_EQ(store->queries.size(), pastAccess && c.setup.calendars ? 1u : 0u);
    EXPECT_TRUE(store->queries.empty() || store->queries[0] == c.setup.calendars->size());
  }
}

}  // namespace
}  // namespace halvic
