// A calendar store whose answers to the access request and to the query come
// when and how a test says, and which records what was asked of it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "event_store.h"

namespace halvic::testing {

// An hour-long event starting at `start`.
inline StoreEvent titled(double start, const char* title) {
  StoreEvent e;
  e.startDate = {start};
  e.endDate = {start + 3600};
  e.title = title;
  return e;
}


class FakeEventStore final : public EventStore {
 public:
  enum class Answer {
    insideRequest,  // before requestFullAccessToEvents returns
    afterDelay,     // from another thread, `delay` after the request
    never,
  };

  Answer answer = Answer::insideRequest;
  std::chrono::milliseconds delay{0};
  bool granted = true;
  std::optional<std::string> error;
  std::optional<std::vector<StoreCalendar>> calendars = std::vector<StoreCalendar>{};
  std::vector<StoreEvent> storedEvents;
  std::optional<std::size_t> calendarsRead;  // nullopt: every calendar asked
  // How long each query step takes; a blocked fetch waits for unblock().
  std::chrono::milliseconds listingDelay{0};
  std::chrono::milliseconds fetchDelay{0};
  bool blockFetch = false;

  // What the run asked.
  int accessRequests = 0;
  std::atomic<bool> answered = false;
  struct Query {
    Instant start;
    Instant end;
    std::vector<std::string> calendarIds;
  };
  std::vector<Query> queries;
  std::atomic<int> fetchesAnswered = 0;

  ~FakeEventStore() override {
    if (answerer_.joinable()) answerer_.join();
  }

  void requestFullAccessToEvents(AccessCompletion completion) override {
    ++accessRequests;
    switch (answer) {
      case Answer::insideRequest:
        answered = true;
        completion(granted, error);
        break;
      case Answer::afterDelay:
        answerer_ = std::thread([this, completion = std::move(completion)] {
          std::this_thread::sleep_for(delay);
          answered = true;
          completion(granted, error);
        });
        break;
      case Answer::never:
        break;
    }
  }

  std::optional<std::vector<StoreCalendar>> eventCalendars() override {
    std::this_thread::sleep_for(listingDelay);
    return calendars;
  }

  StoreEvents events(Instant start, Instant end, const std::vector<StoreCalendar>& asked) override {
    Query query{start, end, {}};
    for (const StoreCalendar& calendar : asked) query.calendarIds.push_back(calendar.identifier);
    queries.push_back(std::move(query));
    std::this_thread::sleep_for(fetchDelay);
    if (blockFetch) unblocked_.wait();
    StoreEvents found{storedEvents, calendarsRead.value_or(asked.size())};
    ++fetchesAnswered;
    return found;
  }

  void unblock() { unblock_.set_value(); }

  // Waits for a late answer, so its effects can be checked.
  void joinAnswer() {
    if (answerer_.joinable()) answerer_.join();
  }

 private:
  std::thread answerer_;
  std::promise<void> unblock_;
  std::shared_future<void> unblocked_ = unblock_.get_future().share();
};

// Waits until the run's query thread, given up on or not, has let go of
// `store`, so that what it did after the run returned can be checked.
inline void awaitQueryEnd(const std::shared_ptr<FakeEventStore>& store) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (store.use_count() > 1 && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace halvic::testing
