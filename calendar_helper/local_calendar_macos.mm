// The LocalCalendar on macOS: day arithmetic in the user's current calendar.

#import <Foundation/Foundation.h>

#include <memory>
#include <optional>

#include "event_store.h"
#include "ns_date_instant.h"

namespace halvic {
namespace {

class CurrentCalendar final : public LocalCalendar {
 public:
  // The current calendar is a snapshot of the user's settings. It is taken at
  // first use, which comes after the access answer (the user may change the
  // zone while the prompt is up), and then kept, so every window of the run
  // uses the same time zone and calendar system.
  CurrentCalendar() = default;

  Instant startOfDay(Instant t) const override {
    @autoreleasepool {
      return instantFromDate([calendar() startOfDayForDate:dateFromInstant(t)]);
    }
  }

  std::optional<Instant> addingDays(Instant t, int days) const override {
    @autoreleasepool {
      // No options: the days carry into month and year instead of wrapping.
      NSDate* sum = [calendar() dateByAddingUnit:NSCalendarUnitDay value:days toDate:dateFromInstant(t) options:0];
      if (sum == nil) {
        return std::nullopt;
      }
      return instantFromDate(sum);
    }
  }

 private:
  NSCalendar* calendar() const {
    if (calendar_ == nil) {
      // Foundation keeps the system time zone from the first time the process
      // reads it (EventKit may have, before the prompt was answered); dropping
      // it makes the snapshot take the zone in force now.
      [NSTimeZone resetSystemTimeZone];
      calendar_ = NSCalendar.currentCalendar;
    }
    return calendar_;
  }

  mutable NSCalendar* calendar_ = nil;
};

}  // namespace

std::unique_ptr<LocalCalendar> makeSystemLocalCalendar() { return std::make_unique<CurrentCalendar>(); }

}  // namespace halvic
