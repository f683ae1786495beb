// The seams between the calendar tool's logic and the platform: the user's
// local calendar and the calendar store.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "instant.h"

namespace halvic {

// Day arithmetic in the user's current calendar and time zone.
class LocalCalendar {
 public:
  virtual ~LocalCalendar() = default;
  // The first existing instant of the local day that holds `t`.
  virtual Instant startOfDay(Instant t) const = 0;
  // `t` plus `days` calendar days, keeping the local time of day and carrying
  // into month and year; nullopt when no such date exists.
  virtual std::optional<Instant> addingDays(Instant t, int days) const = 0;
};

// One calendar of events, as the store reports it.
struct StoreCalendar {
  std::string identifier;            // the store's own, opaque to the logic
  std::optional<std::string> title;  // absent when the store gives none
};

// One event (one occurrence of a repeating event), as the store reports it.
struct StoreEvent {
  Instant startDate;
  Instant endDate;
  std::optional<std::string> calendarTitle;  // title of the calendar that holds it
  std::optional<std::string> title;
  std::optional<std::string> location;
  bool isAllDay = false;
};

// What the store read for a window: the events of the calendars it could read,
// and how many of the asked calendars it knows it read. A calendar whose
// connection or query failed adds no events and is not counted, so calendars
// that hold nothing in the window (read, no events) and calendars that could
// not be read stay apart: `calendarsRead` is 0 only when none could be read.
// A store that cannot tell an empty calendar from a failed one without asking
// again may leave the empty ones uncounted once another calendar had events.
struct StoreEvents {
  std::vector<StoreEvent> events;  // in the store's order
  std::size_t calendarsRead = 0;
};

// The platform's calendar store. Created on the main thread. The query calls
// come after access was granted, one after the other from a single thread
// that need not be the main one, and may block: the caller bounds them by no
// longer waiting for that thread, which keeps its share of the store until
// its call returns or the process ends.
class EventStore {
 public:
  virtual ~EventStore() = default;

  // The store's answer to the access request.
  enum class AccessOutcome {
    granted,
    refused,      // the platform said no: the user, a policy or a sandbox
    unavailable,  // there was no store to ask (missing, not running, out of
                  // reach): nobody refused, and asking again will not help
  };

  // Asks for full access to events and returns without waiting for the answer.
  // The store calls `completion` at most once, on any thread, possibly before
  // this call returns, possibly never; `errorDescription` is the platform's
  // text when it reported an error. The store keeps the completion alive until
  // it has been called, even past the store's own lifetime.
  using AccessCompletion = std::function<void(AccessOutcome outcome, std::optional<std::string> errorDescription)>;
  virtual void requestFullAccessToEvents(AccessCompletion completion) = 0;

  // Told on the main thread, once, after access was granted and before the
  // first query: a store that took its view of the calendars before the grant
  // must now see them (on the first run after the user allowed access, such a
  // store would list none).
  virtual void accessGranted() = 0;

  // Every calendar of events; an empty list when there is none, nullopt when
  // the store could not list them.
  virtual std::optional<std::vector<StoreCalendar>> eventCalendars() = 0;

  // The events the store finds for [start, end) over `calendars`, in the
  // store's order, with the number of those calendars it could read.
  virtual StoreEvents events(Instant start, Instant end, const std::vector<StoreCalendar>& calendars) = 0;
};

// The platform's calendar store and the user's local calendar; defined by the
// backend files CMake picks.
std::unique_ptr<EventStore> makeSystemEventStore();
std::unique_ptr<LocalCalendar> makeSystemLocalCalendar();

}  // namespace halvic
