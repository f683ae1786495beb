// The access request and its bounded wait.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "event_store.h"
#include "json.h"

namespace halvic {

// How long a run waits for the store's answer.
inline constexpr std::chrono::seconds kAccessWait{8};

// What the main thread knows once its wait is over.
struct AccessAnswer {
  bool timedOut = false;
  bool granted = false;
  bool unavailable = false;  // no store to ask: not granted, and not refused either
  std::string errorMessage;  // the store's text, empty when it gave none
};

// Sends the one access request to `store` and waits for its completion until
// `wait` has passed on the monotonic clock. The state the completion writes is
// shared with it, so a completion that comes after the wait (or after the
// process began to end) still writes to live memory.
AccessAnswer requestAccess(EventStore& store, std::chrono::steady_clock::duration wait);

// The error result for an answer that does not let the run go on; nullopt
// when access was granted in time. A time-out wins over the answer; a store
// that was not there is no refusal, so the host is not sent to grant access.
std::optional<JsonObject> accessFailureResult(const AccessAnswer& answer);

}  // namespace halvic
