// The EventStore on macOS: one EKEventStore, asked for full access to events
// and then queried. Ordering and records are the portable logic's business.

#import <EventKit/EventKit.h>
#import <Foundation/Foundation.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "event_store.h"
#include "ns_date_instant.h"
#include "ns_string_utf8.h"

namespace halvic {
namespace {

class EventKitStore final : public EventStore {
 public:
  EventKitStore() : store_([[EKEventStore alloc] init]) {}

  void requestFullAccessToEvents(AccessCompletion completion) override {
    // EventKit answers on a queue of its own, possibly after the caller has
    // stopped waiting and while the process is ending. The block therefore
    // owns its copy of the completion and a strong reference to the store, so
    // neither is torn down before the answer has been delivered.
    EKEventStore* store = store_;
    [store requestFullAccessToEventsWithCompletion:^(BOOL granted, NSError* _Nullable error) {
      @autoreleasepool {
        (void)store;
        std::optional<std::string> errorDescription;
        if (NSError* reported = error) {
          errorDescription = utf8String(reported.localizedDescription);
        }
        completion(granted ? AccessOutcome::granted : AccessOutcome::refused, std::move(errorDescription));
      }
    }];
  }

  // A store made before the grant keeps the empty view it had then. EventKit
  // gives each store made later the permissions in force, so a fresh one is
  // made; `reset` only reverts unsaved changes. The request's block holds the
  // old store until EventKit lets it go.
  void accessGranted() override { store_ = [[EKEventStore alloc] init]; }

  std::optional<std::vector<StoreCalendar>> eventCalendars() override {
    @autoreleasepool {
      NSArray<EKCalendar*>* calendars = nil;
      @try {
        calendars = [store_ calendarsForEntityType:EKEntityTypeEvent];
      } @catch (NSException* exception) {
        // An uncaught exception would abort the process; no list it is.
        (void)exception;
        return std::nullopt;
      }
      if (calendars == nil) {
        return std::nullopt;
      }
      std::vector<StoreCalendar> result;
      result.reserve(calendars.count);
      for (EKCalendar* calendar in calendars) {
        StoreCalendar entry{utf8String(calendar.calendarIdentifier), optionalUtf8String(calendar.title)};
        known_.insert_or_assign(entry.identifier, calendar);
        result.push_back(std::move(entry));
      }
      return result;
    }
  }

  // Runs on the caller's query thread; eventsMatchingPredicate: blocks until
  // the store answers. A caller that stopped waiting keeps this object, and
  // with it store_, alive through its shared reference until the call returns,
  // and reads nothing of what it returns.
  StoreEvents events(Instant start, Instant end, const std::vector<StoreCalendar>& calendars) override {
    @autoreleasepool {
      // Back to the store's own calendar objects; an identifier that this
      // store never reported names no calendar. An empty list stays empty
      // (nil would mean every calendar).
      NSMutableArray<EKCalendar*>* chosen = [NSMutableArray arrayWithCapacity:calendars.size()];
      for (const StoreCalendar& calendar : calendars) {
        const auto known = known_.find(calendar.identifier);
        if (known != known_.end()) {
          [chosen addObject:known->second];
        }
      }
      NSArray<EKEvent*>* found = nil;
      @try {
        NSPredicate* predicate = [store_ predicateForEventsWithStartDate:dateFromInstant(start)
                                                                 endDate:dateFromInstant(end)
                                                               calendars:chosen];
        found = [store_ eventsMatchingPredicate:predicate];
      } @catch (NSException* exception) {
        // EventKit reports a failed fetch only this way (or by no list at
        // all): then none of the calendars was read.
        (void)exception;
        return {};
      }
      if (found == nil) {
        return {};
      }
      // One fetch over every chosen calendar: it read all of them or none.
      StoreEvents result;
      result.calendarsRead = chosen.count;
      result.events.reserve(found.count);
      for (EKEvent* event in found) {
        @autoreleasepool {
          NSDate* startDate = event.startDate;
          NSDate* endDate = event.endDate;
          // The store gives every stored event both dates; one without them
          // cannot be placed in time and is left out.
          if (startDate == nil || endDate == nil) {
            continue;
          }
          StoreEvent record;
          record.startDate = instantFromDate(startDate);
          record.endDate = instantFromDate(endDate);
          record.calendarTitle = optionalUtf8String(event.calendar.title);
          record.title = optionalUtf8String(event.title);
          record.location = optionalUtf8String(event.location);
          record.isAllDay = event.allDay ? true : false;
          result.events.push_back(std::move(record));
        }
      }
      return result;
    }
  }

 private:
  EKEventStore* store_;
  std::map<std::string, EKCalendar*> known_;  // by calendarIdentifier
};

}  // namespace

std::unique_ptr<EventStore> makeSystemEventStore() { return std::make_unique<EventKitStore>(); }

}  // namespace halvic
