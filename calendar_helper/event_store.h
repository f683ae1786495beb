// The seams between the calendar tool's logic and the platform: the user's
// local calendar and the calendar store.
#pragma once

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

// The platform's calendar store. Created on the main thread; the query calls
// are synchronous and come from the main thread after access was granted.
class EventStore {
 public:
  virtual ~EventStore() = default;

  // Asks for full access to events and returns without waiting for the answer.
  // The store calls `completion` at most once, on any thread, possibly before
  // this call returns, possibly never; `errorDescription` is the platform's
  // text when it reported an error. The store keeps the completion alive until
  // it has been called, even past the store's own lifetime.
  using AccessCompletion = std::function<void(bool granted, std::optional<std::string> errorDescription)>;
  virtual void requestFullAccessToEvents(AccessCompletion completion) = 0;

  // Every calendar of events; nullopt when the store gives no list.
  virtual std::optional<std::vector<StoreCalendar>> eventCalendars() = 0;

  // The events the store finds for [start, end) over `calendars`, in the
  // store's order; nullopt when the store gives no list.
  virtual std::optional<std::vector<StoreEvent>> events(Instant start, Instant end,
                                                        const std::vector<StoreCalendar>& calendars) = 0;
};

// The platform's calendar store and the user's local calendar; defined by the
// backend files CMake picks.
std::unique_ptr<EventStore> makeSystemEventStore();
std::unique_ptr<LocalCalendar> makeSystemLocalCalendar();

}  // namespace halvic
