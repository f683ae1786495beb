// A calendar store whose answer to the access request comes when and how a
// test says, and which records what was asked of it.
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "event_store.h"

namespace halvic::testing {

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
  std::optional<std::vector<StoreEvent>> storedEvents = std::vector<StoreEvent>{};

  // What the run asked.
  int accessRequests = 0;
  std::atomic<bool> answered = false;
  struct Query {
    Instant start;
    Instant end;
    std::vector<std::string> calendarIds;
  };
  std::vector<Query> queries;

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

  std::optional<std::vector<StoreCalendar>> eventCalendars() override { return calendars; }

  std::optional<std::vector<StoreEvent>> events(Instant start, Instant end,
                                                const std::vector<StoreCalendar>& asked) override {
    Query query{start, end, {}};
    for (const StoreCalendar& calendar : asked) query.calendarIds.push_back(calendar.identifier);
    queries.push_back(std::move(query));
    return storedEvents;
  }

  // Waits for a late answer, so its effects can be checked.
  void joinAnswer() {
    if (answerer_.joinable()) answerer_.join();
  }

 private:
  std::thread answerer_;
};

}  // namespace halvic::testing
