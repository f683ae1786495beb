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
  // Read once: the current calendar is a snapshot of the user's settings, so
  // every window of the run uses the same time zone and calendar system.
  CurrentCalendar() : calendar_(NSCalendar.currentCalendar) {}

  Instant startOfDay(Instant t) const override {
    @autoreleasepool {
      return instantFromDate([calendar_ startOfDayForDate:dateFromInstant(t)]);
    }
  }

  std::optional<Instant> addingDays(Instant t, int days) const override {
    @autoreleasepool {
      // No options: the days carry into month and year instead of wrapping.
      NSDate* sum = [calendar_ dateByAddingUnit:NSCalendarUnitDay value:days toDate:dateFromInstant(t) options:0];
      if (sum == nil) {
        return std::nullopt;
      }
      return instantFromDate(sum);
    }
  }

 private:
  NSCalendar* calendar_;
};

}  // namespace

std::unique_ptr<LocalCalendar> makeSystemLocalCalendar() { return std::make_unique<CurrentCalendar>(); }

}  // namespace halvic
