// <EventKit/EventKit.h> for SDKs that lack EventKit's headers (the cross
// build's SDK copy, which has its link stub only): exactly the API the
// calendar backend uses, declared as Apple's EventKit reference documents it
// (types, nullability, availability), on top of the SDK's real Foundation. An
// SDK that has EventKit's headers is used as it is.
#pragma once

#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

// EKTypes.h: EKEntityType (EKEntityTypeEvent = 0, EKEntityTypeReminder = 1).
typedef NS_ENUM(NSUInteger, EKEntityType) {
  EKEntityTypeEvent,
  EKEntityTypeReminder,
};

// EKObject.h: the base class of the persistent EventKit objects.
@interface EKObject : NSObject
@end

// EKCalendar.h: `var calendarIdentifier: String { get }`, `var title: String`.
@interface EKCalendar : EKObject
@property(nonatomic, readonly) NSString* calendarIdentifier;
@property(nonatomic, copy) NSString* title;
@end

// EKCalendarItem.h: `var calendar: EKCalendar!`, `var title: String!`,
// `var location: String?`.
@interface EKCalendarItem : EKObject
@property(nonatomic, strong, null_unspecified) EKCalendar* calendar;
@property(nonatomic, copy, null_unspecified) NSString* title;
@property(nonatomic, copy, nullable) NSString* location;
@end

// EKEvent.h: `var isAllDay: Bool`, `var startDate: Date!`, `var endDate: Date!`.
@interface EKEvent : EKCalendarItem
@property(nonatomic, getter=isAllDay) BOOL allDay;
@property(nonatomic, copy, null_unspecified) NSDate* startDate;
@property(nonatomic, copy, null_unspecified) NSDate* endDate;
@end

// EKEventStore.h. The access completion, `(Bool, (any Error)?) -> Void`, runs
// on an arbitrary queue.
typedef void (^EKEventStoreRequestAccessCompletionHandler)(BOOL granted, NSError* _Nullable error);

@interface EKEventStore : NSObject
- (instancetype)init;
- (void)requestFullAccessToEventsWithCompletion:(EKEventStoreRequestAccessCompletionHandler)completion
    API_AVAILABLE(macos(14.0));
// `func calendars(for: EKEntityType) -> [EKCalendar]`
- (NSArray<EKCalendar*>*)calendarsForEntityType:(EKEntityType)entityType;
// `func predicateForEvents(withStart: Date, end: Date, calendars: [EKCalendar]?)
// -> NSPredicate`; nil calendars means every calendar.
- (NSPredicate*)predicateForEventsWithStartDate:(NSDate*)startDate
                                        endDate:(NSDate*)endDate
                                      calendars:(nullable NSArray<EKCalendar*>*)calendars;
// `func events(matching: NSPredicate) -> [EKEvent]`, synchronous.
- (NSArray<EKEvent*>*)eventsMatchingPredicate:(NSPredicate*)predicate;
@end

NS_ASSUME_NONNULL_END
