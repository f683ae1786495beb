// Ordering by start and the six-entry record of each event.
#include "event_records.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace halvic {
namespace {

StoreEvent event(double start, double end = 0, std::optional<std::string> title = "t") {
  StoreEvent e;
  e.startDate = {start};
  e.endDate = {end};
  e.calendarTitle = "Is";
  e.title = std::move(title);
  return e;
}

TEST(TruncatedSecondsTest, DropsTheFractionTowardZero) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  const std::vector<std::pair<double, std::int64_t>> cases = {
      {12.9, 12},
      {-0.5, 0},
      {-1.5, -1},
      {1768400000.75, 1768400000},
      {-0.0, 0},
      {9223372036854774784.0, 9223372036854774784},  // largest double below 2^63
      {9223372036854775808.0, kMax},
      {-9223372036854775808.0, kMin},
      {1e300, kMax},
      {-1e300, kMin},
      {kInf, kMax},
      {-kInf, kMin},
      {std::numeric_limits<double>::quiet_NaN(), 0},
  };
  for (const auto& [seconds, expected] : cases) EXPECT_EQ(truncatedSeconds(seconds), expected) << seconds;
}

std::vector<std::optional<std::string>> titles(const std::vector<StoreEvent>& events) {
  std::vector<std::optional<std::string>> out;
  for (const StoreEvent& e : events) out.push_back(e.title);
  return out;
}

TEST(SortByStartTest, OrdersByStartOnlyAndKeepsTheStoresOrderOnTies) {
  std::vector<StoreEvent> events = {
      event(9 * 3600, 10 * 3600, "nine"),     event(8 * 3600, 9 * 3600, "eight"),
      event(10 * 3600, 11 * 3600, "ten"),     event(8 * 3600, 8 * 3600 + 60, "b-eight, ends first"),
      event(8 * 3600, 12 * 3600, "a-eight"),  event(-1.5, 0, "before 1970"),
  };
  sortByStart(events);
  EXPECT_EQ(titles(events), (std::vector<std::optional<std::string>>{
                                "before 1970", "eight", "b-eight, ends first", "a-eight", "nine", "ten"}));
}

TEST(EventRecordTest, HasSixEntriesInOrder) {
  StoreEvent e = event(1768400000.75, 1768403600.2, "Toplantı: \"Çalışma\"");
  e.location = "Kadıköy / İstanbul";
  e.isAllDay = false;
  const JsonObject expected{{"start_ts", std::int64_t{1768400000}}, {"end_ts", std::int64_t{1768403600}},
                            {"calendar", "Is"},                    {"title", "Toplantı: \"Çalışma\""},
                            {"location", "Kadıköy / İstanbul"},    {"all_day", false}};
  EXPECT_EQ(eventRecord(e), expected);
}

TEST(EventRecordTest, AbsentValuesTakeTheirDefaultsAndPresentOnesStay) {
  struct Case {
    const char* name;
    std::optional<std::string> calendarTitle;
    std::optional<std::string> title;
    std::optional<std::string> location;
    const char* calendarOut;
    const char* titleOut;
    const char* locationOut;
  };
  const std::vector<Case> cases = {
      {"allAbsent", std::nullopt, std::nullopt, std::nullopt, "", "Adsiz etkinlik", "", },
      {"allEmpty", "", "", "", "", "", ""},
      {"blanksStay", " ", "   ", " ", " ", "   ", " "},
  };
  for (const Case& c : cases) {
    StoreEvent e = event(0);
    e.calendarTitle = c.calendarTitle;
    e.title = c.title;
    e.location = c.location;
    const JsonObject record = eventRecord(e);
    EXPECT_EQ(*record.find("calendar"), JsonValue(c.calendarOut)) << c.name;
    EXPECT_EQ(*record.find("title"), JsonValue(c.titleOut)) << c.name;
    EXPECT_EQ(*record.find("location"), JsonValue(c.locationOut)) << c.name;
    EXPECT_EQ(record.size(), 6u) << c.name;
  }
}

TEST(EventRecordTest, AllDayEventsKeepTheStoresInstants) {
  StoreEvent e = event(1768345200, 1768431600);
  e.isAllDay = true;
  const JsonObject record = eventRecord(e);
  EXPECT_EQ(*record.find("start_ts"), JsonValue(std::int64_t{1768345200}));
  EXPECT_EQ(*record.find("end_ts"), JsonValue(std::int64_t{1768431600}));
  EXPECT_EQ(*record.find("all_day"), JsonValue(true));
}

}  // namespace
}  // namespace halvic
