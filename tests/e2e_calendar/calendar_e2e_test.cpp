// The real calendar tool against a real Evolution Data Server on a private session bus, its HOME seeded with
// local calendars. Every run must print one line that a strict JSON reader accepts, exit 0 and write nothing to
// stderr. Times are local to a zone on summer time today, so floating times, dates and local midnights differ
// from UTC and from standard time.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "program_launch.h"

namespace halvic {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using nlohmann::json;
using testing::Outcome;
using Env = std::map<std::string, std::string>;
using Args = std::vector<std::string>;

constexpr long kHour = 3600;
constexpr long kDay = 86400;
constexpr auto kNoDeadline = std::chrono::minutes(15);  // the ctest time-out stays the only limit (valgrind is slow)
constexpr const char* kUtc = "%Y%m%dT%H%M%SZ";
constexpr const char* kFloating = "%Y%m%dT%H%M%S";  // a wall time without a zone

// The zone of the test process and of every run: one on summer time today, in one hemisphere or the other.
void setSummerZone() {
  const std::time_t now = std::time(nullptr);
  setenv("TZ", "America/New_York", 1);
  if (std::localtime(&now)->tm_isdst <= 0) setenv("TZ", "Australia/Sydney", 1);
}

// `days` local days after `t`, at `hour`:`minute`, or at the same wall time without an hour.
long local(long t, int days, std::optional<int> hour = 0, int minute = 0) {
  const std::time_t at = t;
  std::tm fields = *std::localtime(&at);
  fields.tm_mday += days;
  if (hour) std::tie(fields.tm_hour, fields.tm_min, fields.tm_sec) = std::tuple(*hour, minute, 0);
  fields.tm_isdst = -1;
  return std::mktime(&fields);
}
long later(long t, int days) { return local(t, days, std::nullopt); }

std::string stamp(long t, const char* format) {
  const std::time_t at = t;
  char text[32];
  return {text, std::strftime(text, sizeof text, format, format == kUtc ? std::gmtime(&at) : std::localtime(&at))};
}
std::string timed(long start, long end, const char* format = kUtc) {
  return "DTSTART:" + stamp(start, format) + "\r\nDTEND:" + stamp(end, format) + "\r\n";
}
std::string allDay(long start, std::optional<long> end) {
  const std::string to = end ? "\r\nDTEND;VALUE=DATE:" + stamp(*end, "%Y%m%d") : "";
  return "DTSTART;VALUE=DATE:" + stamp(start, "%Y%m%d") + to + "\r\n";
}

// A record without its calendar, which the seeding fills in.
json record(long start, long end, const std::string& title, const std::string& location = "", bool allDay = false) {
  return {{"start_ts", start}, {"end_ts", end}, {"title", title}, {"location", location}, {"all_day", allDay}};
}

// A local calendar as its backend keeps it: a .source key file, and the calendar.ics it reads on first use.
fs::path writeCalendar(const fs::path& home, const std::string& uid, const std::string& name, const Args& events,
                       bool enabled = true) {
  const fs::path sources = home / ".config/evolution/sources", ics = home / ".local/share/evolution/calendar" / uid;
  fs::create_directories(sources);
  fs::create_directories(ics);
  std::ofstream(sources / (uid + ".source")) << "[Data Source]\nDisplayName=" << name << "\nEnabled=" << std::boolalpha
                                             << enabled << "\nParent=local-stub\n\n[Calendar]\nBackendName=local\n";
  std::ofstream out(ics / "calendar.ics", std::ios::binary);
  out << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//halvic//e2e//EN\r\n";
  for (std::size_t n = 0; n < events.size(); ++n) {
    out << "BEGIN:VEVENT\r\nUID:" << uid << n << "\r\nDTSTAMP:20260101T000000Z\r\n" << events[n] << "END:VEVENT\r\n";
  }
  out << "END:VCALENDAR\r\n";
  return ics / "calendar.ics";
}

testing::Launch launch(Args argv, Env env) {
  return {.argv = std::move(argv), .environment = std::move(env), .inheritEnvironment = false};
}

// The tool with exactly `env`, the zone and the sanitizers' settings (a report fails the run), behind the
// valgrind script's wrapper when there is one.
testing::Launch helper(const Args& args, Env env) {
  env["TZ"] = std::getenv("TZ");
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) env[name] = value;
  }
  // libical walks its text with strchr and the like, which strict string checks make scan all the rest of the
  // text: a 1 MiB title took 7.8 s instead of 0.6 s, close to the query's bound.
  if (env.contains("ASAN_OPTIONS")) env["ASAN_OPTIONS"] += ":strict_string_checks=0";
  return launch(testing::helperCommand(HELPER_PATH, args), std::move(env));
}
Outcome run(const Args& args, const Env& env) { return testing::runToEnd(helper(args, env), kNoDeadline); }

// The run's one line, read strictly (valid UTF-8, no raw control characters, nothing after it).
json lineOf(const Outcome& run) {
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  const std::size_t end = run.out.find('\n');
  EXPECT_TRUE(end != std::string::npos && end + 1 == run.out.size()) << run.out.substr(0, 600);
  return json::parse(run.out.substr(0, end), nullptr, /*allow_exceptions=*/false);
}
// On a mismatch, what would turn the line into the wanted one, cut short (a title is 1 MiB). With `from`, the
// run ended no sooner, nor much after the 8 s bound: runs end 20 to 40 ms past it, ~120 ms on a loaded machine;
// a second allows for sanitizers and a busy CI. A wrapper (valgrind) adds its own start-up.
void expectLine(const Outcome& run, const json& want, std::optional<double> from = {}) {
  const json got = lineOf(run);
  EXPECT_TRUE(got == want) << json::diff(got, want).dump().substr(0, 1000);
  EXPECT_GE(run.seconds, from.value_or(0));
  if (from && !testing::helperIsWrapped()) {
    EXPECT_LT(run.seconds, 9.0);
  }
}

// The bytes that wait unread on the bus socket of process `pid`.
long unread(pid_t pid) {
  std::istringstream lines(testing::runToEnd(launch({"/usr/bin/ss", "-xnpH"}, {})).out);
  long total = 0;
  for (std::string line, kind, state; std::getline(lines, line);) {
    long bytes = 0;
    if (line.find("pid=" + std::to_string(pid) + ",") != std::string::npos) {
      std::istringstream(line) >> kind >> state >> bytes;
    }
    total += bytes;
  }
  return total;
}
template <class Done>
void waitFor(Done done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!done() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// Ordinary calendars beside data that no well-behaved client writes (the records are what EDS makes of it), in
// a private Evolution Data Server (eds_session.sh) that the suite seeds, starts and stops.
class CalendarStore : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { start(seed); }
  static void start(void (*seedHome)(const fs::path& home, long n)) {
    setSummerZone();
    root_ = mkdtemp((fs::temp_directory_path() / "halvic-eds-XXXXXX").string().data());
    // Runs come minutes after the base time n: an occurrence that starts or ends in between (at a local midnight,
    // 01:30, 21:15) would be in one's window only. n is off the minute: no start ties with an hour or a midnight.
    for (long soonest = 0; soonest - n_ <= 300;) {
      if (soonest > 0) std::this_thread::sleep_for(std::chrono::seconds(soonest + 120 - std::time(nullptr)));
      n_ = std::time(nullptr) / 60 * 60 - 53;
      occurrences_.clear();
      fs::remove_all(root_ / "home");
      seedHome(root_ / "home", n_);
      soonest = std::numeric_limits<long>::max();
      for (const json& o : occurrences_)
        for (const long edge : {o["start_ts"].get<long>(), o["end_ts"].get<long>()})
          if (edge > n_) soonest = std::min(soonest, edge);
    }
    const Outcome started = script("start");
    std::istringstream lines(started.exitCode == 0 ? started.out : "");
    for (std::string name, value; std::getline(lines, name, '=') && std::getline(lines, value);) env_[name] = value;
    error_ = started.err;
  }
  static void TearDownTestSuite() {
    script("stop");
    fs::remove_all(root_);
    env_.clear();
    occurrences_.clear();
  }
  void SetUp() override { ASSERT_FALSE(env_.empty()) << "eds_session.sh start failed: " << error_; }

  static Outcome script(const char* command, const fs::path& root = root_, const std::string& kind = "") {
    Args args = {"/bin/bash", EDS_SESSION_SCRIPT, command, root};
    if (!kind.empty()) args.push_back(kind);
    return testing::runToEnd(launch(args, {{"PATH", "/usr/bin:/bin"}}), kNoDeadline);
  }
  // The registry answers the access request, the factory reads the events.
  static pid_t pid(const std::string& service) {
    pid_t pid = 0;
    if (!(std::ifstream(root_ / (service + ".pid")) >> pid) || pid <= 0) throw std::runtime_error("no " + service);
    return pid;
  }

  static void seed(const fs::path& home, long n) {
    using Event = std::pair<std::string, std::vector<json>>;  // iCalendar text, the records it gives
    const auto event = [](long start, long end, const std::string& text, auto... record) {
      return Event(timed(start, end) + text, {halvic::record(start, end, record...)});
    };
    const auto plain = [](long start, long end, const std::string& summary, const std::string& location = "",
                          const char* times = kUtc) {
      return Event(timed(start, end, times) + "SUMMARY:" + summary +
                       (location.empty() ? "" : "\r\nLOCATION:" + location) + "\r\n",
                   {halvic::record(start, end, summary, location)});
    };
    const auto repeated = [](const std::string& text, const std::vector<long>& starts, long length, auto... record) {
      Event repeated(text, {});
      for (long start : starts) repeated.second.push_back(halvic::record(start, start + length, record...));
      return repeated;
    };
    const auto h = [n](int hours) { return n + hours * kHour; };
    const auto day = [n](int days) { return local(n, days); };
    const std::string r = "\xEF\xBF\xBD";  // D-Bus carries only UTF-8: EDS puts U+FFFD for each bad byte
    std::string mebibyte;
    for (int i = 0; i < 512 * 1024; ++i) mebibyte += "ğ";
    std::vector<long> walks, weeks, hours;
    for (int k = -2; k < 8; ++k)
      if (k != 4) walks.push_back(local(n, k, 9));
    for (long k = 0; k < 8; ++k) weeks.push_back(local(n, -14, 20, 15) + k * 7 * kDay);
    for (long start = n - kDay + 1800; start < later(n, 30); start += kHour) hours.push_back(start);
    Event unnamed = plain(h(11), h(12), "Adı bozuk takvimde");
    unnamed.second[0]["calendar"] = "Unnamed";  // the registry cannot read the name and gives its own

    const std::vector<std::pair<std::string, std::vector<Event>>> calendars = {
        {"İş Takvimi",
         {plain(local(n, -1, 10), local(n, -1, 11), "Dünkü toplantı"),
          // Floating, which EDS preselects as if in UTC: only a query a day wider finds them inside either edge.
          plain(n - kHour, n + kHour, "Süren iş", "Kadıköy / İstanbul", kFloating),
          plain(local(n, 0, 1), local(n, 0, 1, 30), "Sabah"),
          plain(local(n, 1, 10), local(n, 1, 11), "Yarın"),
          plain(local(n, 6, 12), local(n, 6, 13), "Haftanın son günü"),
          plain(local(n, 8, 12), local(n, 8, 13), "Gelecek hafta"),
          plain(later(n, 3) - kHour, later(n, 3) - 1800, "Ajanda sonu", "", kFloating),
          plain(later(n, 3) + kHour, later(n, 3) + 2 * kHour, "Ajanda dışı"),
          plain(later(n, 29), later(n, 29) + kHour, "Ay içinde"),
          plain(later(n, 31), later(n, 31) + kHour, "Ay dışı"),
          event(local(n, 2, 14), local(n, 2, 15), "LOCATION:Oda 5/B\r\n", "Adsiz etkinlik", "Oda 5/B"),
          event(local(n, 2, 15), local(n, 2, 16), "SUMMARY:\r\n", "Adsiz etkinlik"),  // EDS drops an empty SUMMARY
          event(local(n, 2, 16), local(n, 2, 17), R"(SUMMARY:Satır 1\nSatır 2\, "tırnak" \\ 会議)" "\r\n",
                "Satır 1\nSatır 2, \"tırnak\" \\ 会議")}},
        {"Ev",
         {{allDay(day(0), day(1)) + "SUMMARY:Bayram\r\n", {record(day(0), day(1), "Bayram", "", true)}},
          {allDay(day(3), day(5)) + "SUMMARY:Tatil\r\n", {record(day(3), day(5), "Tatil", "", true)}},
          // Daily at 09:00 local time (floating) from two days ago, one skipped; weekly at a UTC time.
          repeated(timed(walks[0], walks[0] + 1800, kFloating) + "RRULE:FREQ=DAILY;COUNT=10\r\nEXDATE:" +
                       stamp(local(n, 4, 9), kFloating) + "\r\nSUMMARY:Yürüyüş\r\n",
                   walks, 1800, "Yürüyüş"),
          repeated(timed(weeks[0], weeks[0] + kHour) + "RRULE:FREQ=WEEKLY;COUNT=8\r\nSUMMARY:Haftalık\r\n"
                   "LOCATION:Ev\r\n", weeks, kHour, "Haftalık", "Ev")}},
        {"Düşman",
         // A stray byte, a cut sequence, a UTF-16 surrogate, an overlong '/'; then control characters.
         {event(h(1), h(2), "SUMMARY:Bozuk\xff\xfe metin \xc3\x28 son\r\nLOCATION:Oda\xe2\x82 3 \xed\xa0\x80 "
                "\xc0\xaf\r\n",
                "Bozuk" + r + r + " metin " + r + "( son", "Oda" + r + r + " 3 " + r + r + r + " " + r + r),
          event(h(3), h(4), "SUMMARY:Kontrol\x01\x02\x1b\x1f\x7f\tsekme\\nikinci satır\r\nLOCATION:Oda\x0b" "7\r\n",
                "Kontrol\x01\x02\x1b\x1f\x7f\tsekme\nikinci satır", "Oda\x0b" "7"),
          // Text is a C string inside EDS: it ends at the NUL. A 1 MiB title on one unfolded line.
          event(h(5), h(6), "SUMMARY:Önce\0sonra\r\n"s, "Önce"),
          plain(later(n, 20), later(n, 20) + kHour, mebibyte),
          // EDS moves an end before the start up to it; an event without an end, or a start, lasts no time.
          {timed(h(8), h(7)) + "SUMMARY:Ters\r\n", {record(h(8), h(8), "Ters")}},
          {"DTSTART:" + stamp(h(9), kUtc) + "\r\nSUMMARY:Sonsuz\r\n", {record(h(9), h(9), "Sonsuz")}},
          {"DTEND:" + stamp(h(10), kUtc) + "\r\nSUMMARY:Başsız\r\n", {record(h(10), h(10), "Başsız")}},
          // An all-day event that ends where it starts, or has no end, lasts its day.
          {allDay(day(1), day(1)) + "SUMMARY:Sıfır gün\r\n", {record(day(1), day(2), "Sıfır gün", "", true)}},
          {allDay(day(2), std::nullopt) + "SUMMARY:Bitişsiz\r\n", {record(day(2), day(3), "Bitişsiz", "", true)}},
          repeated(timed(hours[0], hours[0] + 60) + "RRULE:FREQ=HOURLY\r\nSUMMARY:Saatlik\r\n", hours, 60, "Saatlik")}},
        {"Bozuk\xff takvim", {unnamed}},
        {"Boş takvim", {}},
    };
    int uid = 0;
    for (const auto& [name, events] : calendars) {
      Args texts;
      for (const auto& [text, records] : events) {
        texts.push_back(text);
        for (json record : records) {
          record.emplace("calendar", name);
          occurrences_.push_back(record);
        }
      }
      writeCalendar(home, "calendar" + std::to_string(++uid), name, texts);
    }
    writeCalendar(home, "disabled", "Kapalı", {timed(h(0), h(1)) + "SUMMARY:Görünmemeli\r\n"}, false);
    // Files EDS cannot read as a calendar: junk lines, a nested VEVENT, a wrong END, a NUL and a stray 0xFF,
    // cut short; an event in a file that stops before END:VCALENDAR (it is lost); nothing; none; a directory.
    const auto unreadable = [&](const char* uid) { return writeCalendar(home, uid, "Düşman", {}); };
    std::ofstream(unreadable("garbage"), std::ios::binary)
        << "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nDTSTART:yarin\r\nSUMMARY;;;:x\r\nBEGIN:VEVENT\r\n\0\xff\r\n:::\r\n"
           "END:VTODO\r\nDTSTART:2026"s;
    std::ofstream(unreadable("truncated"), std::ios::binary)
        << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:kesik\r\n" + timed(h(13), h(14)) + "END:VEVENT\r\n";
    std::ofstream(unreadable("empty"), std::ios::binary);
    fs::remove(unreadable("missing"));
    const fs::path directory = unreadable("directory");
    fs::remove(directory);
    fs::create_directory(directory);
  }

  // The line of a run whose window is [start, end): the occurrences that overlap it, in start order.
  static json expectedFor(long start, long end) {
    std::vector<json> in;
    std::copy_if(occurrences_.begin(), occurrences_.end(), std::back_inserter(in),
                 [&](const json& o) { return o["start_ts"] < end && o["end_ts"] > start; });
    std::stable_sort(in.begin(), in.end(), [](auto& a, auto& b) { return a["start_ts"] < b["start_ts"]; });
    return {{"ok", true}, {"events", in}};
  }

  // A "next" run while `stopped` is stopped; it resumes after the run, or once `killed` was killed when the tool's
  // first request waits on the factory (it follows the access grant; nothing else talks to the factory).
  static Outcome runStopping(const char* stopped, const char* killed = nullptr) {
    const pid_t stoppedPid = pid(stopped);
    kill(stoppedPid, SIGSTOP);
    testing::RunningProgram tool(helper({"next"}, env_));
    if (killed) {
      waitFor([&] { return !tool.running() || unread(pid("factory")) > 0; });
      kill(pid(killed), SIGKILL);
      kill(stoppedPid, SIGCONT);
    }
    const Outcome outcome = tool.finish(kNoDeadline);
    kill(stoppedPid, SIGCONT);
    waitFor([&] { return unread(stoppedPid) == 0; });  // the late requests are read
    return outcome;
  }

  static inline fs::path root_;
  static inline Env env_;
  static inline std::string error_;
  static inline long n_ = 0;
  static inline std::vector<json> occurrences_;
};

TEST_F(CalendarStore, EveryModeReportsTheOccurrencesOfItsWindow) {
  const long n = n_;
  const struct {
    Args args;
    long start;
    long end;
  } rows[] = {{{}, local(n, 0), local(n, 1)},   {{"tomorrow", "week"}, local(n, 1), local(n, 2)},
              {{"week"}, local(n, 0), local(n, 7)}, {{"next"}, n, later(n, 30)}, {{"agenda"}, n, later(n, 3)}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args.empty() ? "no mode" : row.args[0]);
    expectLine(run(row.args, env_), expectedFor(row.start, row.end));
  }
}

// Every calendar, the built-in ones too, lives in the factory.
TEST_F(CalendarStore, AFactoryKilledMidQueryLeavesNoCalendarToRead) {
  expectLine(runStopping("factory", "factory"),
             {{"ok", false}, {"error", "calendar_unavailable"}, {"detail", "Takvim etkinlikleri okunamadi."}}, 0.0);
}

// A session of its own, which these cases break, with no calendar but EDS's built-in ones ("system-calendar"
// and the like), which answer and hold nothing.
class BrokenStore : public CalendarStore {
 protected:
  static void SetUpTestSuite() {
    start([](const fs::path&, long) {});
  }
};

// Calendars that answer without occurrences are no events, not an unreadable or absent store.
TEST_F(BrokenStore, ARegistryWithItsBuiltInCalendarsAloneAndNoEventsHasNoEvents) {
  expectLine(run({"week"}, env_), {{"ok", true}, {"events", json::array()}});
}

TEST_F(BrokenStore, AServiceThatNeverAnswersTimesTheRunOutAfterEightSeconds) {
  for (const auto& [service, detail] : {std::pair{"registry", "Takvim izin istegi zaman asimina ugradi."},
                                        std::pair{"factory", "Takvim etkinlikleri zaman asimina ugradi."}}) {
    SCOPED_TRACE(service);
    expectLine(runStopping(service), {{"ok", false}, {"error", "timeout"}, {"detail", detail}}, 8.0);
  }
}

// The calendars were listed from the registry's answer, and the factory still serves them.
TEST_F(BrokenStore, ARegistryGoneOnceAccessWasGrantedLeavesTheQueryServed) {
  expectLine(runStopping("factory", "registry"), {{"ok", true}, {"events", json::array()}}, 0.0);
}

// No store to ask is no refusal: the host must not send the user to grant an access that nobody withheld. Only a
// bus that turns the call away refuses, in its own words. Last, as it kills the session's registry.
TEST_F(BrokenStore, AStoreThatIsNotThereIsUnavailableAndOnlyABusThatSaysNoRefuses) {
  const auto other = [](const char* kind) {
    const Outcome started = script("start", root_ / kind, kind);
    std::istringstream lines(started.exitCode == 0 ? started.out : "");
    Env env;
    for (std::string name, value; std::getline(lines, name, '=') && std::getline(lines, value);) env[name] = value;
    EXPECT_FALSE(env.empty()) << "eds_session.sh start " << kind << " failed: " << started.err;
    return env;
  };
  const std::shared_ptr<void> stop(nullptr, [](void*) {
    for (const char* kind : {"bare", "refusing"}) script("stop", root_ / kind);
  });
  Env hiddenSchemas = env_;
  hiddenSchemas["XDG_DATA_DIRS"] = root_ / "home";  // a host's own data directory, without EDS's
  const auto killRegistry = [] {
    kill(pid("registry"), SIGKILL);
    waitFor([] { return kill(pid("registry"), 0) != 0; });
    return env_;
  };
  const json unavailable = {{"ok", false}, {"error", "calendar_unavailable"}, {"detail", "Takvim deposuna ulasilamadi."}};
  const struct {
    const char* name;
    std::function<Env()> env;
    std::optional<json> line;  // nullopt: a refusal with the bus's text
  } rows[] = {
      // Without an address GLib looks for $XDG_RUNTIME_DIR/bus, then for X11, and there is no DISPLAY.
      {"no session bus at all", [] { return Env{{"HOME", root_ / "home"}, {"XDG_RUNTIME_DIR", root_ / "home"}}; },
       unavailable},
      {"a bus that ended", [] { return Env{{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"}}; }, unavailable},
      {"EDS's schemas out of reach of XDG_DATA_DIRS", [&] { return hiddenSchemas; }, unavailable},
      {"a bus on which EDS never started", [&] { return other("bare"); }, unavailable},
      {"a bus that turns away every call to the registry", [&] { return other("refusing"); }, std::nullopt},
      {"the registry killed before the run", killRegistry, unavailable},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const json line = lineOf(run({"week"}, row.env()));
    const json refusal = {{"ok", false}, {"error", "permission_denied"}, {"detail", line.value("detail", "")}};
    EXPECT_EQ(line, row.line.value_or(refusal));
    EXPECT_TRUE(row.line || line.value("detail", "").find("Rejected") != std::string::npos) << line;
  }
}

}  // namespace
}  // namespace halvic
