// Instants to and from NSDate for the macOS backends (Objective-C++ only).
#pragma once

#import <Foundation/Foundation.h>

#include "instant.h"

namespace halvic {

inline NSDate* _Nonnull dateFromInstant(Instant instant) {
  return [NSDate dateWithTimeIntervalSince1970:instant.secondsSince1970];
}

inline Instant instantFromDate(NSDate* _Nonnull date) { return Instant{date.timeIntervalSince1970}; }

}  // namespace halvic
