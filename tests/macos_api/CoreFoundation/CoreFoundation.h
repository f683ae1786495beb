// Stand-in for <CoreFoundation/CoreFoundation.h> (macOS 26 SDK), declaring only
// what the macOS backends use, so that they can be compiled on any host. Each
// declaration mirrors the SDK header named beside it; with the macros the SDK
// defines for C++ (an options type is a plain integer typedef there).
#pragma once

#include <stdint.h>

// sys/cdefs.h (Darwin)
#define __nullable _Nullable

// CoreFoundation/CFBase.h, CFAvailability.h
#define CF_EXTERN_C_BEGIN extern "C" {
#define CF_EXTERN_C_END }
#define CF_CONSUMED __attribute__((cf_consumed))
#define CF_RETURNS_RETAINED __attribute__((cf_returns_retained))
#define CF_IMPLICIT_BRIDGING_ENABLED _Pragma("clang arc_cf_code_audited begin")
#define CF_IMPLICIT_BRIDGING_DISABLED _Pragma("clang arc_cf_code_audited end")
#define CF_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define CF_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")
#define CF_BRIDGED_TYPE(T) __attribute__((objc_bridge(T)))
#define CF_ENUM(_type, _name) enum _name : _type _name; enum _name : _type
#define CF_OPTIONS(_type, _name) _type _name; enum : _name

// CoreFoundation/CFBase.h
typedef const void* CFTypeRef;
typedef const struct CF_BRIDGED_TYPE(NSString) __CFString* CFStringRef;

// CoreFoundation/CFArray.h
typedef const struct CF_BRIDGED_TYPE(NSArray) __CFArray* CFArrayRef;

// CoreFoundation/CFDictionary.h
typedef const struct CF_BRIDGED_TYPE(NSDictionary) __CFDictionary* CFDictionaryRef;

// CoreFoundation/CFCalendar.h
typedef CF_OPTIONS(unsigned long, CFCalendarUnit){
    kCFCalendarUnitDay = (1UL << 4),
};
