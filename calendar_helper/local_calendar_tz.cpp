// The user's local calendar on Linux: the Gregorian calendar in the process's
// time zone as the C library resolves it (TZ, else /etc/localtime). The C
// library is used because libstdc++ 12 has no std::chrono::current_zone.
#include <cerrno>
#include <climits>
#include <cmath>
#include <ctime>
#include <memory>
#include <optional>

#include "event_store.h"

namespace halvic {

namespace {

struct LocalDate {
  long year;  // years since 1900, as struct tm counts them
  int month;
  int day;
  auto operator<=>(const LocalDate&) const = default;
};

std::optional<std::time_t> wholeSeconds(double seconds) {
  if (!std::isfinite(seconds)) return std::nullopt;
  const double floored = std::floor(seconds);
  // Stay well inside what localtime_r can turn into a year of type int.
  constexpr double kLimit = 6.7e15;
  if (floored < -kLimit || floored > kLimit) return std::nullopt;
  return static_cast<std::time_t>(floored);
}

std::optional<std::tm> localFields(std::time_t t) {
  std::tm fields{};
  if (localtime_r(&t, &fields) == nullptr) return std::nullopt;
  return fields;
}

std::optional<LocalDate> localDate(std::time_t t) {
  const auto fields = localFields(t);
  if (!fields) return std::nullopt;
  return LocalDate{fields->tm_year, fields->tm_mon, fields->tm_mday};
}

class TzLocalCalendar final : public LocalCalendar {
 public:
  Instant startOfDay(Instant t) const override {
    const auto at = wholeSeconds(t.secondsSince1970);
    if (!at) return t;
    const auto day = localDate(*at);
    if (!day) return t;
    // The day's first instant is where the local date turns into `day`. Zone
    // offsets and clock changes stay far below 50 hours, so the date at
    // `low` is earlier; between the two, the date only moves forward. This
    // finds midnight, or the first instant after a change that skips it,
    // or the first of two midnights when the clock goes back over it.
    std::time_t low = *at - 50 * 3600;  // date < day
    std::time_t high = *at;             // date == day
    while (high - low > 1) {
      const std::time_t mid = low + (high - low) / 2;
      const auto date = localDate(mid);
      if (!date) return t;
      (*date < *day ? low : high) = mid;
    }
    return {static_cast<double>(high)};
  }

  std::optional<Instant> addingDays(Instant t, int days) const override {
    const auto at = wholeSeconds(t.secondsSince1970);
    if (!at) return std::nullopt;
    auto fields = localFields(*at);
    if (!fields) return std::nullopt;
    if (days > 0 ? fields->tm_mday > INT_MAX - days : fields->tm_mday < INT_MIN - days) return std::nullopt;
    fields->tm_mday += days;
    // Let the library decide daylight saving for the new date; a wall time
    // that the new date skips comes out moved forward by the gap.
    fields->tm_isdst = -1;
    errno = 0;
    const std::time_t moved = std::mktime(&*fields);
    if (moved == static_cast<std::time_t>(-1) && errno != 0) return std::nullopt;
    // Keep the fraction of a second that whole-second arithmetic dropped.
    return Instant{static_cast<double>(moved) + (t.secondsSince1970 - static_cast<double>(*at))};
  }
};

}  // namespace

std::unique_ptr<LocalCalendar> makeSystemLocalCalendar() { return std::make_unique<TzLocalCalendar>(); }

}  // namespace halvic
