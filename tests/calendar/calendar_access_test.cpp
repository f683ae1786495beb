// The access step: one request, a bounded wait, and the result it leads to,
// whenever and however the store answers.
#include "calendar_access.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "fake_event_store.h"

namespace halvic {
namespace {

using namespace std::chrono_literals;
using testing::FakeEventStore;
using Answer = FakeEventStore::Answer;

const JsonObject kTimeout{{"ok", false}, {"error", "timeout"}, {"detail", "Takvim izin istegi zaman asimina ugradi."}};

JsonObject denied(const char* detail) { return {{"ok", false}, {"error", "permission_denied"}, {"detail", detail}}; }

struct AccessCase {
  const char* name;
  Answer answer;
  std::chrono::milliseconds delay;
  bool granted;
  std::optional<std::string> error;
  std::optional<JsonObject> expected;  // nullopt: the run goes on
};

constexpr auto kWait = 300ms;

const std::vector<AccessCase> kAccessCases = {
    {"grantedBeforeTheRequestReturns", Answer::insideRequest, 0ms, true, std::nullopt, std::nullopt},
    {"grantedDuringTheWait", Answer::afterDelay, 50ms, true, std::nullopt, std::nullopt},
    {"grantedWithAnError", Answer::afterDelay, 10ms, true, "Bir sorun oldu", std::nullopt},
    {"deniedWithoutError", Answer::insideRequest, 0ms, false, std::nullopt, denied("")},
    {"deniedWithError", Answer::afterDelay, 20ms, false, "Erişim reddedildi: \"takvim\"", denied("Erişim reddedildi: \"takvim\"")},
    {"neverAnswered", Answer::never, 0ms, false, std::nullopt, kTimeout},
    {"grantedAfterTheDeadline", Answer::afterDelay, 600ms, true, std::nullopt, kTimeout},
    {"deniedAfterTheDeadline", Answer::afterDelay, 600ms, false, "reddedildi", kTimeout},
};

class AccessTest : public ::testing::TestWithParam<AccessCase> {};

TEST_P(AccessTest, LeadsToItsResult) {
  const AccessCase& c = GetParam();
  FakeEventStore store;
  store.answer = c.answer;
  store.delay = c.delay;
  store.granted = c.granted;
  store.error = c.error;

  const auto before = std::chrono::steady_clock::now();
  const AccessAnswer answer = requestAccess(store, kWait);
  const auto waited = std::chrono::steady_clock::now() - before;

  EXPECT_EQ(store.accessRequests, 1);
  EXPECT_EQ(accessFailureResult(answer), c.expected);
  if (answer.timedOut) {
    EXPECT_GE(waited, kWait) << "gave up before the deadline";
  }
  // A late answer lands in state the step no longer reads; joining here lets
  // the sanitizers see that it still writes to live memory.
  store.joinAnswer();
}

INSTANTIATE_TEST_SUITE_P(Answers, AccessTest, ::testing::ValuesIn(kAccessCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AccessFailureResultTest, TimeoutWinsOverRefusal) {
  EXPECT_EQ(accessFailureResult({.timedOut = true, .granted = false, .errorMessage = "x"}), kTimeout);
  EXPECT_EQ(accessFailureResult({.timedOut = true, .granted = true, .errorMessage = {}}), kTimeout);
}

}  // namespace
}  // namespace halvic
