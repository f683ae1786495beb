// The real helper against a real Evolution Data Server on a private session
// bus, with a throwaway HOME seeded with local calendars. The expected result
// of every mode is worked out here from the seeded occurrences and printed
// with the same JSON writer, so a run must match it byte for byte.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "json.h"
#include "temp_dir.h"

namespace halvic {
namespace {

namespace fs = std::filesystem;
using testing::ChildResult;
using testing::runChild;

constexpr long kDay = 86400;
constexpr long kHour = 3600;
constexpr long kTokyoOffset = 9 * kHour;  // no daylight saving
constexpr const char* kZone = "TZ=Asia/Tokyo";

// One occurrence the store should report, as the helper must print it.
struct Occurrence {
  long start;
  long end;
  std::string calendar;
  std::optional<std::string> title;
  std::string location;
  bool allDay = false;
};

std::string utcStamp(long t) {
  const std::time_t tt = t;
  std::tm fields{};
  gmtime_r(&tt, &fields);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &fields);
  return text;
}

// Tokyo wall time of `t`, as a DATE or a floating DATE-TIME.
std::string tokyoStamp(long t, bool dateOnly) {
  const std::time_t tt = t + kTokyoOffset;
  std::tm fields{};
  gmtime_r(&tt, &fields);
  char text[32];
  std::strftime(text, sizeof text, dateOnly ? "%Y%m%d" : "%Y%m%dT%H%M%S", &fields);
  return text;
}

class Calendar {
 public:
  Calendar(std::string uid, std::string name, bool enabled = true)
      : uid_(std::move(uid)), name_(std::move(name)), enabled_(enabled) {}

  // A plain event at UTC instants; `summary` is the raw iCalendar text.
  Calendar& event(long start, long end, std::optional<std::string> summary, std::string extra = {}) {
    std::ostringstream v;
    v << "DTSTART:" << utcStamp(start) << "\r\nDTEND:" << utcStamp(end) << "\r\n";
    if (summary) v << "SUMMARY:" << *summary << "\r\n";
    v << extra;
    components_.push_back(v.str());
    return *this;
  }
  // Any other event, given as its iCalendar lines.
  Calendar& raw(std::string lines) {
    components_.push_back(std::move(lines));
    return *this;
  }

  void writeInto(const fs::path& home) const {
    const fs::path sources = home / ".config/evolution/sources";
    const fs::path data = home / ".local/share/evolution/calendar" / uid_;
    fs::create_directories(sources);
    fs::create_directories(data);
    std::ofstream(sources / (uid_ + ".source")) << "[Data Source]\nDisplayName=" << name_
                                                << "\nEnabled=" << (enabled_ ? "true" : "false")
                                                << "\nParent=local-stub\n\n[Calendar]\nBackendName=local\n";
    std::ofstream ics(data / "calendar.ics", std::ios::binary);
    ics << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//halvic//e2e//EN\r\n";
    int n = 0;
    for (const std::string& component : components_) {
      ics << "BEGIN:VEVENT\r\nUID:" << uid_ << "-" << n++ << "\r\nDTSTAMP:20260101T000000Z\r\n"
          << component << "END:VEVENT\r\n";
    }
    ics << "END:VCALENDAR\r\n";
  }

 private:
  std::string uid_;
  std::string name_;
  bool enabled_;
  std::vector<std::string> components_;
};

class CalendarE2eTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new testing::TempDir;
    // Seed and run within one local day, so "today" means the same to both.
    long now = std::time(nullptr);
    const long toMidnight = kDay - (now + kTokyoOffset) % kDay;
    if (toMidnight < 180) {
      std::this_thread::sleep_for(std::chrono::seconds(toMidnight + 1));
      now = std::time(nullptr);
    }
    now_ = now;
    day_ = (now + kTokyoOffset) / kDay * kDay - kTokyoOffset;
    seed();
    startSession();
  }

  static void TearDownTestSuite() {
    runChild({"/bin/bash", EDS_SESSION_SCRIPT, "stop", root_->path().string()}, {"PATH=/usr/bin:/bin"});
    delete root_;
    root_ = nullptr;
  }

  static void seed() {
    const long d = day_;
    const long n = now_;
    const std::string work = "İş Takvimi";
    const std::string home = "Ev";
    auto add = [](Occurrence o) { expected_.push_back(std::move(o)); };

    // Plain events of the work calendar: iCalendar SUMMARY text, the title
    // the helper must report for it, and the location.
    struct Plain {
      long start;
      long end;
      std::optional<std::string> summary;
      std::optional<std::string> title;
      std::string location;
    };
    const std::vector<Plain> plain = {
        {d - kDay + 10 * kHour, d - kDay + 11 * kHour, "Dünkü toplantı", "Dünkü toplantı", ""},
        {n - kHour, n + kHour, "Süren iş", "Süren iş", "Kadıköy / İstanbul"},
        {d + kHour, d + kHour + 1800, "Sabah", "Sabah", ""},
        {d + kDay + 10 * kHour, d + kDay + 11 * kHour, "Yarın", "Yarın", ""},
        {d + 6 * kDay + 12 * kHour, d + 6 * kDay + 13 * kHour, "Haftanın son günü", "Haftanın son günü", ""},
        {d + 8 * kDay + 12 * kHour, d + 8 * kDay + 13 * kHour, "Gelecek hafta", "Gelecek hafta", ""},
        {n + 3 * kDay - kHour, n + 3 * kDay - 1800, "Ajanda sonu", "Ajanda sonu", ""},
        {n + 3 * kDay + kHour, n + 3 * kDay + 2 * kHour, "Ajanda dışı", "Ajanda dışı", ""},
        {n + 29 * kDay, n + 29 * kDay + kHour, "Ay içinde", "Ay içinde", ""},
        {n + 31 * kDay, n + 31 * kDay + kHour, "Ay dışı", "Ay dışı", ""},
        {d + 2 * kDay + 14 * kHour, d + 2 * kDay + 15 * kHour, std::nullopt, std::nullopt, "Oda 5/B"},
        // The iCalendar parser under EDS drops an empty SUMMARY: it arrives absent.
        {d + 2 * kDay + 15 * kHour, d + 2 * kDay + 16 * kHour, "", std::nullopt, ""},
        {d + 2 * kDay + 16 * kHour, d + 2 * kDay + 17 * kHour, "Satır 1\\nSatır 2\\, \"tırnak\" \\\\ 会議",
         "Satır 1\nSatır 2, \"tırnak\" \\ 会議", ""},
    };
    Calendar workCal("e2e-work", work);
    for (const Plain& p : plain) {
      workCal.event(p.start, p.end, p.summary, p.location.empty() ? "" : "LOCATION:" + p.location + "\r\n");
      add({p.start, p.end, work, p.title, p.location});
    }
    workCal.writeInto(root_->path() / "home");

    Calendar homeCal("e2e-home", home);
    // All-day events start at local midnight.
    homeCal.raw("DTSTART;VALUE=DATE:" + tokyoStamp(d, true) + "\r\nDTEND;VALUE=DATE:" +
                tokyoStamp(d + kDay, true) + "\r\nSUMMARY:Bayram\r\n");
    add({d, d + kDay, home, "Bayram", "", true});
    homeCal.raw("DTSTART;VALUE=DATE:" + tokyoStamp(d + 3 * kDay, true) + "\r\nDTEND;VALUE=DATE:" +
                tokyoStamp(d + 5 * kDay, true) + "\r\nSUMMARY:Tatil\r\n");
    add({d + 3 * kDay, d + 5 * kDay, home, "Tatil", "", true});
    // Daily at 09:00 local time (floating), ten times from two days ago, one skipped.
    homeCal.raw("DTSTART:" + tokyoStamp(d - 2 * kDay + 9 * kHour, false) + "\r\nDTEND:" +
                tokyoStamp(d - 2 * kDay + 9 * kHour + 1800, false) +
                "\r\nRRULE:FREQ=DAILY;COUNT=10\r\nEXDATE:" + tokyoStamp(d + 4 * kDay + 9 * kHour, false) +
                "\r\nSUMMARY:Yürüyüş\r\n");
    for (int k = -2; k < 8; ++k) {
      if (k != 4) add({d + k * kDay + 9 * kHour, d + k * kDay + 9 * kHour + 1800, home, "Yürüyüş", ""});
    }
    // Weekly at a UTC time, from two weeks ago.
    const long weekly = d - 14 * kDay + 20 * kHour + 15 * 60;
    homeCal.raw("DTSTART:" + utcStamp(weekly) + "\r\nDTEND:" + utcStamp(weekly + kHour) +
                "\r\nRRULE:FREQ=WEEKLY;COUNT=8\r\nSUMMARY:Haftalık\r\nLOCATION:Ev\r\n");
    for (int k = 0; k < 8; ++k) add({weekly + k * 7 * kDay, weekly + k * 7 * kDay + kHour, home, "Haftalık", "Ev"});
    homeCal.writeInto(root_->path() / "home");

    Calendar("e2e-empty", "Boş takvim").writeInto(root_->path() / "home");
    Calendar("e2e-off", "Kapalı", false)
        .event(d + 5 * kHour, d + 6 * kHour, "Görünmemeli")
        .writeInto(root_->path() / "home");
  }

  static void startSession() {
    const ChildResult started =
        runChild({"/bin/bash", EDS_SESSION_SCRIPT, "start", root_->path().string()}, {"PATH=/usr/bin:/bin"});
    ASSERT_EQ(started.exitStatus, 0) << started.err;
    std::istringstream lines(started.out);
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty()) sessionEnv_.push_back(line);
    }
  }

  static ChildResult runHelper(std::vector<std::string> args, std::vector<std::string> env) {
    args.insert(args.begin(), HELPER_PATH);
    // The helper runs with a clean environment; sanitizer settings pass through.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
      if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
    }
    return runChild(args, env);
  }

  static ChildResult runHelper(std::vector<std::string> args) {
    std::vector<std::string> env = sessionEnv_;
    env.push_back(kZone);
    return runHelper(std::move(args), std::move(env));
  }

  // What a run for [start, end) must print: the occurrences that overlap the
  // window, in start order (the seeded starts are all distinct).
  static std::string expectedFor(long start, long end) {
    std::vector<Occurrence> in;
    for (const Occurrence& o : expected_) {
      if (o.start < end && o.end > start) in.push_back(o);
    }
    std::stable_sort(in.begin(), in.end(), [](const auto& a, const auto& b) { return a.start < b.start; });
    JsonArray records;
    for (const Occurrence& o : in) {
      records.emplace_back(JsonObject{{"start_ts", std::int64_t{o.start}},
                                      {"end_ts", std::int64_t{o.end}},
                                      {"calendar", o.calendar},
                                      {"title", o.title.value_or("Adsiz etkinlik")},
                                      {"location", o.location},
                                      {"all_day", o.allDay}});
    }
    return *serializeJson(JsonObject{{"ok", true}, {"events", std::move(records)}}) + "\n";
  }

  static inline testing::TempDir* root_ = nullptr;
  static inline std::vector<std::string> sessionEnv_;
  static inline std::vector<Occurrence> expected_;
  static inline long now_ = 0;
  static inline long day_ = 0;
};

TEST_F(CalendarE2eTest, EveryModeReportsTheOccurrencesOfItsWindow) {
  struct ModeCase {
    std::vector<std::string> args;
    long start;
    long end;
  };
  const long d = day_;
  const long n = now_;
  const std::vector<ModeCase> cases = {
      {{}, d, d + kDay},
      {{"today"}, d, d + kDay},
      {{"Today"}, d, d + kDay},
      {{""}, d, d + kDay},
      {{"tomorrow", "week"}, d + kDay, d + 2 * kDay},
      {{"week"}, d, d + 7 * kDay},
      {{"next"}, n, n + 30 * kDay},
      {{"agenda"}, n, n + 3 * kDay},
  };
  for (const ModeCase& c : cases) {
    const std::string label = c.args.empty() ? "(none)" : "'" + c.args[0] + "'";
    const ChildResult run = runHelper(c.args);
    EXPECT_EQ(run.exitStatus, 0) << label;
    EXPECT_EQ(run.err, "") << label;
    EXPECT_EQ(run.out, expectedFor(c.start, c.end)) << label;
  }
}

TEST_F(CalendarE2eTest, WithoutASessionBusAccessIsDeniedWithThePlatformsText) {
  const testing::TempDir empty;
  const ChildResult run = runHelper({"week"}, {kZone, "HOME=" + empty.path().string(),
                                               "XDG_RUNTIME_DIR=" + empty.path().string()});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  // The text is GLib's own; it names the missing bus.
  EXPECT_EQ(run.out.rfind(R"({"ok":false,"error":"permission_denied","detail":")", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("D-Bus"), std::string::npos) << run.out;
}

TEST_F(CalendarE2eTest, ARegistryThatNeverAnswersTimesOutAfterEightSeconds) {
  std::ifstream pidFile(root_->path() / "registry.pid");
  pid_t registry = 0;
  ASSERT_TRUE(pidFile >> registry);
  ASSERT_EQ(kill(registry, SIGSTOP), 0);
  const ChildResult run = runHelper({"today"});
  kill(registry, SIGCONT);

  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, R"({"ok":false,"error":"timeout","detail":"Takvim izin istegi zaman asimina ugradi."})"
                     "\n");
  // Not before the deadline, and not at the bus's own 25 s call time-out.
  EXPECT_GE(run.seconds, 8.0);
  EXPECT_LT(run.seconds, 20.0);
}

}  // namespace
}  // namespace halvic
