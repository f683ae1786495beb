// Stand-in for <Foundation/Foundation.h> (macOS 26 SDK, arm64), declaring only
// what the macOS backends use, so that a misspelt selector or a wrong argument
// type fails to compile on any host. Each group names the SDK header whose
// declarations it mirrors (signature, nullability, ARC attributes).
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <sys/types.h>

// objc/objc.h (arm64: OBJC_BOOL_IS_BOOL), objc/NSObjCRuntime.h
typedef bool BOOL;
#define YES __objc_yes
#define NO __objc_no
#define nil nullptr

// Foundation/NSObjCRuntime.h
typedef long NSInteger;
typedef unsigned long NSUInteger;
#define FOUNDATION_EXPORT extern "C"
#define NS_INLINE static inline __attribute__((always_inline))
#define NS_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define NS_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")
#define NS_RETURNS_INNER_POINTER __attribute__((objc_returns_inner_pointer))
#define NS_ENUM(_type, _name) CF_ENUM(_type, _name)
#define NS_OPTIONS(_type, _name) CF_OPTIONS(_type, _name)

NS_ASSUME_NONNULL_BEGIN

@class NSString;

// objc/NSObject.h (the NSObject protocol and root class)
@protocol NSObject
- (BOOL)isKindOfClass:(Class)aClass;
@end

__attribute__((objc_root_class))
@interface NSObject <NSObject>
+ (instancetype)alloc;
- (instancetype)init;
+ (Class)class;
@end

// Foundation/NSObject.h (ARC variant)
NS_INLINE id _Nullable CFBridgingRelease(CFTypeRef CF_CONSUMED _Nullable X) { return (__bridge_transfer id)X; }

// Foundation/NSRange.h
typedef struct _NSRange {
  NSUInteger location;
  NSUInteger length;
} NSRange;

NS_INLINE NSRange NSMakeRange(NSUInteger loc, NSUInteger len) {
  NSRange r;
  r.location = loc;
  r.length = len;
  return r;
}

// Foundation/NSEnumerator.h
typedef struct {
  unsigned long state;
  id __unsafe_unretained _Nullable* _Nullable itemsPtr;
  unsigned long* _Nullable mutationsPtr;
  unsigned long extra[5];
} NSFastEnumerationState;

@protocol NSFastEnumeration
- (NSUInteger)countByEnumeratingWithState:(NSFastEnumerationState*)state
                                  objects:(id __unsafe_unretained _Nullable[_Nonnull])buffer
                                    count:(NSUInteger)len;
@end

// Foundation/NSString.h
typedef unsigned short unichar;

@interface NSString : NSObject
@property(readonly) NSUInteger length;
@end

@interface NSString (NSStringExtensionMethods)
- (void)getCharacters:(unichar*)buffer range:(NSRange)range;
@end

// Foundation/NSValue.h
@interface NSValue : NSObject
@property(readonly) const char* objCType NS_RETURNS_INNER_POINTER;
@end

@interface NSNumber : NSValue
@property(readonly) long long longLongValue;
@property(readonly) unsigned long long unsignedLongLongValue;
@property(readonly) double doubleValue;
@end

// Foundation/NSArray.h
@interface NSArray<__covariant ObjectType> : NSObject <NSFastEnumeration>
@property(readonly) NSUInteger count;
@end

@interface NSMutableArray<ObjectType> : NSArray<ObjectType>
- (void)addObject:(ObjectType)anObject;
@end

@interface NSMutableArray <ObjectType>(NSMutableArrayCreation)
+ (instancetype)arrayWithCapacity:(NSUInteger)numItems;
@end

// Foundation/NSDictionary.h
@interface NSDictionary<__covariant KeyType, __covariant ObjectType> : NSObject <NSFastEnumeration>
@property(readonly) NSUInteger count;
- (nullable ObjectType)objectForKey:(KeyType)aKey;
@end

// Foundation/NSDate.h
typedef double NSTimeInterval;

@interface NSDate : NSObject
@end

@interface NSDate (NSExtendedDate)
@property(readonly) NSTimeInterval timeIntervalSince1970;
@end

@interface NSDate (NSDateCreation)
+ (instancetype)dateWithTimeIntervalSince1970:(NSTimeInterval)secs;
@end

// Foundation/NSError.h
@interface NSError : NSObject
@property(readonly, copy) NSString* localizedDescription;
@end

// Foundation/NSException.h
@interface NSException : NSObject
@end

// Foundation/NSPredicate.h
@interface NSPredicate : NSObject
@end

// Foundation/NSCalendar.h
typedef NS_OPTIONS(NSUInteger, NSCalendarUnit){
    NSCalendarUnitDay = kCFCalendarUnitDay,
};

typedef NS_OPTIONS(NSUInteger, NSCalendarOptions){
    NSCalendarWrapComponents = (1UL << 0),
};

@interface NSCalendar : NSObject
@property(class, readonly, copy) NSCalendar* currentCalendar;
- (NSDate*)startOfDayForDate:(NSDate*)date;
- (nullable NSDate*)dateByAddingUnit:(NSCalendarUnit)unit
                               value:(NSInteger)value
                              toDate:(NSDate*)date
                             options:(NSCalendarOptions)options;
@end

// Foundation/NSPathUtilities.h
FOUNDATION_EXPORT NSString* NSTemporaryDirectory(void);

NS_ASSUME_NONNULL_END
