#include "ical_values.h"

#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <string_view>

#include "utf8_repair.h"

namespace halvic {

namespace {

// The tz database name of the zone the C library uses, so EDS places dates
// and floating times in the same zone as the rest of the tool: TZ when set
// (the C library's own variable), else the target of /etc/localtime.
std::optional<std::string> localZoneName() {
  constexpr std::string_view kZoneinfo = "zoneinfo/";
  std::string name;
  if (const char* tz = std::getenv("TZ"); tz != nullptr) {
    name = tz;
    if (name.empty()) return "UTC";
    if (name.front() == ':') name.erase(0, 1);
  } else {
    char target[4096];
    const ssize_t length = readlink("/etc/localtime", target, sizeof target - 1);
    if (length <= 0) return std::nullopt;
    name.assign(target, static_cast<std::size_t>(length));
  }
  if (const auto at = name.rfind(kZoneinfo); at != std::string::npos) name.erase(0, at + kZoneinfo.size());
  return name;
}

}  // namespace

// Nothing guarantees that a store's text is UTF-8 (a calendar file may hold
// Latin-1), and the records must be: ill-formed bytes become U+FFFD here.
std::optional<std::string> optionalText(const char* text) {
  if (text == nullptr) return std::nullopt;
  return repairedUtf8(text);
}

// A wall time goes through the C library, exactly as the local calendar's days do.
double instantOf(const ICalTime* time) {
  ICalTimezone* zone = i_cal_time_get_timezone(time);
  const bool isDate = i_cal_time_is_date(time);
  if (!isDate && (zone != nullptr || i_cal_time_is_utc(time))) {
    return static_cast<double>(i_cal_time_as_timet_with_zone(time, zone));
  }
  std::tm fields{};
  fields.tm_year = i_cal_time_get_year(time) - 1900;
  fields.tm_mon = i_cal_time_get_month(time) - 1;
  fields.tm_mday = i_cal_time_get_day(time);
  if (!isDate) {
    fields.tm_hour = i_cal_time_get_hour(time);
    fields.tm_min = i_cal_time_get_minute(time);
    fields.tm_sec = i_cal_time_get_second(time);
  }
  fields.tm_isdst = -1;
  return static_cast<double>(std::mktime(&fields));
}

std::optional<std::string> propertyText(ICalComponent* component, ICalPropertyKind kind,
                                        const gchar* (*read)(ICalProperty*)) {
  GRef<ICalProperty> property(i_cal_component_get_first_property(component, kind));
  if (!property) return std::nullopt;
  return optionalText(read(property.get()));
}

ICalTimezone* localZone() {
  const auto name = localZoneName();
  ICalTimezone* zone = name ? i_cal_timezone_get_builtin_timezone(name->c_str()) : nullptr;
  return zone != nullptr ? zone : i_cal_timezone_get_utc_timezone();
}

}  // namespace halvic
