// Calendar data that no well-behaved client writes, read by the real tool
// through a real Evolution Data Server. Each case is a store of its own: a
// healthy calendar beside one hostile calendar. Whatever the hostile one
// holds, a run must print one line that a strict JSON reader accepts, exit 0,
// write nothing to stderr, and still report the healthy calendar's event.
// The records expected from the hostile calendar are what EDS makes of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "calendar_seed.h"
#include "eds_session.h"
#include "temp_dir.h"

namespace halvic {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::Calendar;
using testing::EdsSession;
using testing::Outcome;
using testing::utcStamp;

constexpr long kDay = 86400;
constexpr long kHour = 3600;
constexpr const char* kZone = "TZ=UTC";      // all-day dates are UTC days
constexpr const char* kFffd = "\xEF\xBF\xBD";  // U+FFFD REPLACEMENT CHARACTER

// One record the run must print.
struct Record {
  long start;
  long end;
  std::string calendar;
  std::string title;
  std::string location;
  bool allDay = false;
};

// What lies on disk where the hostile calendar's events belong.
enum class IcsFile { Seeded, Garbage, Missing, Empty, Directory };

struct HostileCase {
  std::string calendarName = "Düşman";  // raw bytes of its DisplayName
  std::vector<std::string> events;      // VEVENT bodies; UID and DTSTAMP are added
  IcsFile file = IcsFile::Seeded;
  std::string garbage;                  // the file's bytes for IcsFile::Garbage
  std::vector<Record> expected;         // the records it adds to the healthy one
};

std::string timed(long start, long end) {
  return "DTSTART:" + utcStamp(start) + "\r\nDTEND:" + utcStamp(end) + "\r\n";
}

std::string utcDate(long t) { return utcStamp(t).substr(0, 8); }

long tomorrowUtc(long now) { return (now / kDay + 1) * kDay; }

// A file EDS cannot read as one calendar: junk lines, a nested VEVENT, a
// wrong END, a NUL and a stray 0xFF, then the file just stops.
constexpr char kGarbageIcs[] =
    "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nDTSTART:yarin\r\nSUMMARY;;;:x\r\nBEGIN:VEVENT\r\n"
    "\0\xff\r\n:::\r\nEND:VTODO\r\nDTSTART:2026";

HostileCase leftOnDisk(IcsFile file) {
  HostileCase c;
  c.file = file;
  return c;
}

struct NamedCase {
  const char* name;
  HostileCase (*make)(long now);
};

// Names the case in test names and failure messages.
void PrintTo(const NamedCase& c, std::ostream* out) { *out << c.name; }

const NamedCase kCases[] = {
    // EDS hands text over D-Bus, which carries only valid UTF-8: it puts one
    // U+FFFD in place of each byte that is not part of a valid sequence.
    {"InvalidUtf8InTitleAndLocation",
     [](long n) {
       HostileCase c;
       c.events = {timed(n + kHour, n + 2 * kHour) +
                   "SUMMARY:Bozuk\xff\xfe metin \xc3\x28 son\r\n"
                   // A cut sequence, a UTF-16 surrogate, an overlong '/'.
                   "LOCATION:Oda\xe2\x82 3 \xed\xa0\x80 \xc0\xaf\r\n"};
       const std::string r = kFffd;
       c.expected = {{n + kHour, n + 2 * kHour, "Düşman", "Bozuk" + r + r + " metin " + r + "( son",
                      "Oda" + r + r + " 3 " + r + r + r + " " + r + r}};
       return c;
     }},
    // The registry cannot read the name and gives the calendar its own default.
    {"InvalidUtf8InCalendarName",
     [](long n) {
       HostileCase c;
       c.calendarName = "Bozuk\xff takvim";
       c.events = {timed(n + kHour, n + 2 * kHour) + "SUMMARY:Adı bozuk takvimde\r\n"};
       c.expected = {{n + kHour, n + 2 * kHour, "Unnamed", "Adı bozuk takvimde", ""}};
       return c;
     }},
    {"ControlCharacters",
     [](long n) {
       HostileCase c;
       c.events = {timed(n + kHour, n + 2 * kHour) +
                   "SUMMARY:Kontrol\x01\x02\x1b\x1f\x7f\tsekme\\nikinci satır\r\nLOCATION:Oda\x0b" "7\r\n"};
       c.expected = {{n + kHour, n + 2 * kHour, "Düşman", "Kontrol\x01\x02\x1b\x1f\x7f\tsekme\nikinci satır",
                      "Oda\x0b" "7"}};
       return c;
     }},
    // Text is a C string inside EDS: it ends at the NUL.
    {"NulInTitle",
     [](long n) {
       HostileCase c;
       c.events = {timed(n + kHour, n + 2 * kHour) + std::string("SUMMARY:Önce\0sonra\r\n", 21)};
       c.expected = {{n + kHour, n + 2 * kHour, "Düşman", "Önce", ""}};
       return c;
     }},
    // On one unfolded line, two bytes a letter.
    {"OneMebibyteTitle",
     [](long n) {
       std::string title;
       for (int i = 0; i < 512 * 1024; ++i) title += "ğ";
       HostileCase c;
       c.events = {timed(n + kHour, n + 2 * kHour) + "SUMMARY:" + title + "\r\n"};
       c.expected = {{n + kHour, n + 2 * kHour, "Düşman", title, ""}};
       return c;
     }},
    // EDS moves the end up to the start.
    {"EndBeforeStart",
     [](long n) {
       HostileCase c;
       c.events = {timed(n + 3 * kHour, n + kHour) + "SUMMARY:Ters\r\n"};
       c.expected = {{n + 3 * kHour, n + 3 * kHour, "Düşman", "Ters", ""}};
       return c;
     }},
    // A timed event without an end or a duration lasts no time at all.
    {"NoEnd",
     [](long n) {
       HostileCase c;
       c.events = {"DTSTART:" + utcStamp(n + 4 * kHour) + "\r\nSUMMARY:Sonsuz\r\n"};
       c.expected = {{n + 4 * kHour, n + 4 * kHour, "Düşman", "Sonsuz", ""}};
       return c;
     }},
    // EDS reads the end of an event that has no start as its start too.
    {"NoStart",
     [](long n) {
       HostileCase c;
       c.events = {"DTEND:" + utcStamp(n + 5 * kHour) + "\r\nSUMMARY:Başsız\r\n"};
       c.expected = {{n + 5 * kHour, n + 5 * kHour, "Düşman", "Başsız", ""}};
       return c;
     }},
    // Both give the whole day.
    {"AllDayEndingWhereItStartsOrWithoutEnd",
     [](long n) {
       const long d = tomorrowUtc(n);
       HostileCase c;
       c.events = {"DTSTART;VALUE=DATE:" + utcDate(d) + "\r\nDTEND;VALUE=DATE:" + utcDate(d) + "\r\nSUMMARY:Sıfır gün\r\n",
                   "DTSTART;VALUE=DATE:" + utcDate(d + kDay) + "\r\nSUMMARY:Bitişsiz gün\r\n"};
       c.expected = {{d, d + kDay, "Düşman", "Sıfır gün", "", true},
                     {d + kDay, d + 2 * kDay, "Düşman", "Bitişsiz gün", "", true}};
       return c;
     }},
    // No COUNT or UNTIL: every hour of the 30 days ahead, from yesterday on.
    {"UnboundedHourlyRecurrence",
     [](long n) {
       const long first = n - kDay + kHour / 2;
       HostileCase c;
       c.events = {timed(first, first + 60) + "RRULE:FREQ=HOURLY\r\nSUMMARY:Saatlik\r\n"};
       for (long s = first; s < n + 30 * kDay; s += kHour) {
         if (s + 60 > n) c.expected.push_back({s, s + 60, "Düşman", "Saatlik", ""});
       }
       return c;
     }},
    {"MalformedFile",
     [](long) {
       HostileCase c;
       c.file = IcsFile::Garbage;
       c.garbage.assign(kGarbageIcs, sizeof kGarbageIcs - 1);
       return c;
     }},
    // A complete event in a file that breaks off before END:VCALENDAR is lost.
    {"TruncatedFile",
     [](long n) {
       HostileCase c;
       c.file = IcsFile::Garbage;
       c.garbage = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:kesik\r\n" + timed(n + kHour, n + 2 * kHour) +
                   "SUMMARY:Kesik\r\nEND:VEVENT\r\n";
       return c;
     }},
    {"MissingFile", [](long) { return leftOnDisk(IcsFile::Missing); }},
    {"EmptyFile", [](long) { return leftOnDisk(IcsFile::Empty); }},
    {"DirectoryInPlaceOfFile", [](long) { return leftOnDisk(IcsFile::Directory); }},
};

json recordJson(const Record& r) {
  return {{"start_ts", r.start}, {"end_ts", r.end},           {"calendar", r.calendar},
          {"title", r.title},    {"location", r.location}, {"all_day", r.allDay}};
}

std::string shortened(const std::string& text) {
  constexpr std::size_t kShown = 600;
  return text.size() <= kShown ? text : text.substr(0, kShown) + "... (" + std::to_string(text.size()) + " bytes)";
}

// The one line of `run`, parsed strictly (no trailing text, valid UTF-8, no
// raw control characters); null when there is no such line.
json oneStrictJsonLine(const Outcome& run) {
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  const std::size_t lineFeed = run.out.find('\n');
  if (lineFeed == std::string::npos || lineFeed + 1 != run.out.size()) {
    ADD_FAILURE() << "not exactly one line: " << shortened(run.out);
    return nullptr;
  }
  json parsed = json::parse(run.out.substr(0, lineFeed), nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded() || !parsed.is_object()) {
    ADD_FAILURE() << "not a JSON object: " << shortened(run.out);
    return nullptr;
  }
  return parsed;
}

class HostileCalendarData : public ::testing::TestWithParam<NamedCase> {};

TEST_P(HostileCalendarData, GiveOneValidLineAndLeaveTheOtherCalendarReported) {
  const long now = std::time(nullptr);
  const HostileCase hostile = GetParam().make(now);

  const testing::TempDir root;
  const fs::path home = root.path() / "home";
  const Record healthy{now + 2 * kHour, now + 3 * kHour, "Sağlam", "Sağlam toplantı", "Oda 1"};
  Calendar("healthy", healthy.calendar)
      .event(healthy.start, healthy.end, healthy.title, "LOCATION:" + healthy.location + "\r\n")
      .writeInto(home);
  Calendar calendar("hostile", hostile.calendarName);
  for (const std::string& event : hostile.events) calendar.raw(event);
  calendar.writeInto(home);
  const fs::path ics = calendar.icsPath(home);
  switch (hostile.file) {
    case IcsFile::Seeded: break;
    case IcsFile::Garbage: std::ofstream(ics, std::ios::binary | std::ios::trunc) << hostile.garbage; break;
    case IcsFile::Missing: fs::remove(ics); break;
    case IcsFile::Empty: std::ofstream(ics, std::ios::binary | std::ios::trunc); break;
    case IcsFile::Directory:
      fs::remove(ics);
      fs::create_directory(ics);
      break;
  }

  json want = json::array();
  std::vector<Record> records = hostile.expected;
  records.push_back(healthy);
  std::stable_sort(records.begin(), records.end(), [](const Record& a, const Record& b) { return a.start < b.start; });
  for (const Record& r : records) want.push_back(recordJson(r));

  const EdsSession session(root.path());
  ASSERT_TRUE(session.started()) << session.error();
  std::vector<std::string> env = session.env();
  env.push_back(kZone);
  const Outcome run = testing::runCalendarHelper({"next"}, env);

  const json result = oneStrictJsonLine(run);
  ASSERT_TRUE(result.is_object());
  EXPECT_EQ(result.size(), 2u) << shortened(result.dump());
  EXPECT_EQ(result.value("ok", false), true) << shortened(result.dump());
  const json events = result.value("events", json::array());
  ASSERT_EQ(events.size(), want.size()) << shortened(result.dump());
  for (std::size_t i = 0; i < want.size(); ++i) {
    // Shortened, or a 1 MiB title would fill the log.
    if (events[i] != want[i]) {
      ADD_FAILURE() << "record " << i << "\n  got  " << shortened(events[i].dump()) << "\n  want "
                    << shortened(want[i].dump());
      break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileCalendarData, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<NamedCase>& info) { return info.param.name; });

}  // namespace
}  // namespace halvic
