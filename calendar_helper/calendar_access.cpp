#include "calendar_access.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

namespace halvic {

namespace {

// Written once by the completion, read by the main thread after its wait.
// The completion holds its own reference, so it never outlives this.
struct AccessState {
  std::mutex mutex;
  std::condition_variable answered;
  bool signalled = false;
  EventStore::AccessOutcome outcome = EventStore::AccessOutcome::refused;
  std::string errorMessage;
};

}  // namespace

AccessAnswer requestAccess(EventStore& store, std::chrono::steady_clock::duration wait) {
  auto state = std::make_shared<AccessState>();
  store.requestFullAccessToEvents([state](EventStore::AccessOutcome outcome,
                                          std::optional<std::string> errorDescription) {
    std::lock_guard lock(state->mutex);
    if (state->signalled) return;  // a second call would be the store's fault; the first answer stands
    state->outcome = outcome;
    if (errorDescription) state->errorMessage = std::move(*errorDescription);
    state->signalled = true;
    state->answered.notify_all();
  });

  // The deadline is taken after the request was sent; steady_clock is the
  // monotonic clock, so wall-clock changes do not move it.
  const auto deadline = std::chrono::steady_clock::now() + wait;
  std::unique_lock lock(state->mutex);
  const bool signalled = state->answered.wait_until(lock, deadline, [&] { return state->signalled; });
  if (!signalled) return {.timedOut = true, .granted = false, .unavailable = false, .errorMessage = {}};
  using enum EventStore::AccessOutcome;
  return {.timedOut = false,
          .granted = state->outcome == granted,
          .unavailable = state->outcome == unavailable,
          .errorMessage = state->errorMessage};
}

std::optional<JsonObject> accessFailureResult(const AccessAnswer& answer) {
  if (answer.timedOut) {
    return JsonObject{{"ok", false},
                      {"error", "timeout"},
                      {"detail", "Takvim izin istegi zaman asimina ugradi."}};
  }
  if (answer.unavailable) {
    return JsonObject{{"ok", false}, {"error", "calendar_unavailable"}, {"detail", "Takvim deposuna ulasilamadi."}};
  }
  if (!answer.granted) {
    return JsonObject{{"ok", false}, {"error", "permission_denied"}, {"detail", answer.errorMessage}};
  }
  return std::nullopt;
}

}  // namespace halvic
