// Runs a test in a named time zone of the tz database and builds instants
// from local wall times with an explicit UTC offset, so expectations do not
// depend on the code under test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "instant.h"

namespace halvic::testing {

class ScopedZone {
 public:
  explicit ScopedZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedZone() {
    if (saved_) setenv("TZ", saved_->c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  ScopedZone(const ScopedZone&) = delete;
  ScopedZone& operator=(const ScopedZone&) = delete;

 private:
  std::optional<std::string> saved_;
};

// Local wall time `y-m-d h:mi:s` at UTC offset `offsetMinutes`.
inline Instant at(int y, int m, int d, int h, int mi, int offsetMinutes, int s = 0) {
  std::tm fields{};
  fields.tm_year = y - 1900;
  fields.tm_mon = m - 1;
  fields.tm_mday = d;
  fields.tm_hour = h;
  fields.tm_min = mi;
  fields.tm_sec = s;
  return {static_cast<double>(timegm(&fields) - static_cast<std::time_t>(offsetMinutes) * 60)};
}

inline constexpr int kHour = 60;

}  // namespace halvic::testing
