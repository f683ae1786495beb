// Reading the iCalendar values that EDS hands over into the tool's plain types.
#pragma once

#include <libecal/libecal.h>  // brings libical-glib with its API flag set

#include <memory>
#include <optional>
#include <string>

namespace halvic {

// Owns one GObject reference.
struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GRef = std::unique_ptr<T, GObjectUnref>;

// A C string that may be null, as well-formed UTF-8.
std::optional<std::string> optionalText(const char* text);

// An iCalendar time as seconds since 1970. DATE values and floating times
// name a wall time, taken in the process's local zone.
double instantOf(const ICalTime* time);

// The unescaped text of the first property of `kind`; absent without one.
std::optional<std::string> propertyText(ICalComponent* component, ICalPropertyKind kind,
                                        const gchar* (*read)(ICalProperty*));

// The process's local zone, as libical knows it (UTC when it does not).
ICalTimezone* localZone();

}  // namespace halvic
