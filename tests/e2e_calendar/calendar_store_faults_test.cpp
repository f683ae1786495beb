// The real tool against a real Evolution Data Server that hangs, dies or
// breaks around the event query. Whatever happens, a run prints its one line
// (the events, "timeout" or "calendar_unavailable"), exits 0, writes nothing
// to stderr and ends within the query's bound plus a small margin. Each case
// is a store of its own with two calendars.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "calendar_seed.h"
#include "eds_session.h"
#include "helper_command.h"
#include "json.h"
#include "program_launch.h"
#include "temp_dir.h"

namespace halvic {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::Calendar;
using testing::EdsSession;
using testing::Outcome;

constexpr long kHour = 3600;
constexpr const char* kTimeoutLine =
    R"({"ok":false,"error":"timeout","detail":"Takvim etkinlikleri zaman asimina ugradi."})" "\n";
constexpr const char* kUnavailableLine =
    R"({"ok":false,"error":"calendar_unavailable","detail":"Takvim etkinlikleri okunamadi."})" "\n";

enum class Fault {
  None,
  FactoryFrozenAfterWarmRun,
  FactoryFrozenBeforeAnyRun,
  FactoryKilledMidQuery,
  RegistryGoneAfterAccess,
  OneCalendarUnreadable,
};

enum class Line { BothCalendars, FirstCalendarOnly, Timeout, Unavailable };

struct FaultCase {
  const char* name;
  Fault fault;
  Line line;
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

const FaultCase kCases[] = {
    {"Healthy", Fault::None, Line::BothCalendars},
    {"FactoryFrozenAfterAWarmRun", Fault::FactoryFrozenAfterWarmRun, Line::Timeout},
    {"FactoryFrozenBeforeAnyRun", Fault::FactoryFrozenBeforeAnyRun, Line::Timeout},
    // Every calendar, the built-in ones too, lives in the factory.
    {"FactoryKilledMidQuery", Fault::FactoryKilledMidQuery, Line::Unavailable},
    // The calendars were listed from the registry's answer; the factory still
    // serves them.
    {"RegistryGoneAfterAccess", Fault::RegistryGoneAfterAccess, Line::BothCalendars},
    {"OneOfTwoCalendarsUnreadable", Fault::OneCalendarUnreadable, Line::FirstCalendarOnly},
};

struct Seeded {
  long start;
  const char* calendar;
  const char* title;
};

std::string eventsLine(const std::vector<Seeded>& events) {
  JsonArray records;
  for (const Seeded& e : events) {
    records.emplace_back(JsonObject{{"start_ts", std::int64_t{e.start}},
                                    {"end_ts", std::int64_t{e.start + kHour}},
                                    {"calendar", e.calendar},
                                    {"title", e.title},
                                    {"location", ""},
                                    {"all_day", false}});
  }
  return *serializeJson(JsonObject{{"ok", true}, {"events", std::move(records)}}) + "\n";
}

// Whether the frozen factory has a request waiting unread on its bus socket.
// The tool sends it its first request only once access was granted: no other
// client talks to the factory, and nothing arrives while the tool is still
// waiting for the registry.
bool factoryHasUnreadRequest(pid_t factory) {
  testing::Launch ss;
  ss.argv = {"/usr/bin/ss", "-xnpH"};
  const std::string owner = "pid=" + std::to_string(factory) + ",";
  std::istringstream lines(testing::runToEnd(ss).out);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(owner) == std::string::npos) continue;
    std::istringstream fields(line);
    std::string kind;
    std::string state;
    long unread = 0;
    if (fields >> kind >> state >> unread && unread > 0) return true;
  }
  return false;
}

class StoreFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(StoreFault, StillEndsWithItsOneLineInTime) {
  const FaultCase& c = GetParam();
  const long now = std::time(nullptr);
  const Seeded first{now + kHour, "Sağlam", "Toplantı"};
  const Seeded second{now + 3 * kHour, "İkinci", "Görüşme"};

  const testing::TempDir root;
  const fs::path home = root.path() / "home";
  Calendar("fault-first", first.calendar).event(first.start, first.start + kHour, first.title).writeInto(home);
  Calendar secondCalendar("fault-second", second.calendar);
  secondCalendar.event(second.start, second.start + kHour, second.title).writeInto(home);
  if (c.fault == Fault::OneCalendarUnreadable) {
    // A directory where the calendar's file belongs: its backend cannot open it.
    const fs::path ics = secondCalendar.icsPath(home);
    fs::remove(ics);
    fs::create_directory(ics);
  }

  const EdsSession session(root.path());
  ASSERT_TRUE(session.started()) << session.error();
  std::vector<std::string> env = session.env();
  env.push_back("TZ=UTC");
  const pid_t factory = session.factoryPid();
  const pid_t registry = session.registryPid();
  ASSERT_GT(factory, 0);
  ASSERT_GT(registry, 0);

  Outcome run;
  switch (c.fault) {
    case Fault::None:
    case Fault::OneCalendarUnreadable:
      run = testing::runCalendarHelper({"next"}, env);
      break;
    case Fault::FactoryFrozenAfterWarmRun:
      ASSERT_EQ(testing::runCalendarHelper({"next"}, env).out, eventsLine({first, second}));
      [[fallthrough]];
    case Fault::FactoryFrozenBeforeAnyRun:
      ASSERT_EQ(kill(factory, SIGSTOP), 0);
      run = testing::runCalendarHelper({"next"}, env);
      break;
    case Fault::FactoryKilledMidQuery:
    case Fault::RegistryGoneAfterAccess: {
      ASSERT_EQ(kill(factory, SIGSTOP), 0);
      testing::RunningProgram running(testing::calendarHelperLaunch({"next"}, env));
      // Until the tool has been granted access and waits on the factory.
      const auto giveUp = std::chrono::steady_clock::now() + 60s;
      while (!factoryHasUnreadRequest(factory) && running.running() && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(20ms);
      }
      if (c.fault == Fault::FactoryKilledMidQuery) {
        kill(factory, SIGKILL);
      } else {
        kill(registry, SIGKILL);
        kill(factory, SIGCONT);
      }
      run = running.finish(testing::kNoDeadline);
      break;
    }
  }

  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  switch (c.line) {
    case Line::BothCalendars: EXPECT_EQ(run.out, eventsLine({first, second})); break;
    case Line::FirstCalendarOnly: EXPECT_EQ(run.out, eventsLine({first})); break;
    case Line::Timeout: EXPECT_EQ(run.out, kTimeoutLine); break;
    case Line::Unavailable: EXPECT_EQ(run.out, kUnavailableLine); break;
  }
  // The bound plus a margin for a loaded machine or a sanitizer build, as for
  // the access wait; a wrapper such as valgrind adds its own start-up, so it is
  // held to the deadline alone.
  if (c.line == Line::Timeout) {
    EXPECT_GE(run.seconds, 8.0);
  }
  if (!testing::helperIsWrapped()) {
    EXPECT_LT(run.seconds, 9.0);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, StoreFault, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

}  // namespace
}  // namespace halvic
