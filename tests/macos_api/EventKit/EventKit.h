// Stand-in for <EventKit/EventKit.h> (macOS 26 SDK): only what the macOS
// backends use. Each group names the EventKit header it mirrors.
#pragma once

#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

// EventKit/EKTypes.h
typedef NS_ENUM(NSUInteger, EKEntityType){
    EKEntityTypeEvent,
    EKEntityTypeReminder,
};

// EventKit/EKObject.h
@interface EKObject : NSObject
@end

// EventKit/EKCalendar.h
@interface EKCalendar : EKObject
@property(nonatomic, readonly) NSString* calendarIdentifier;
@property(nonatomic, copy) NSString* title;
@end

// EventKit/EKCalendarItem.h
@interface EKCalendarItem : EKObject
@property(nonatomic, strong, null_unspecified) EKCalendar* calendar;
@property(nonatomic, copy, null_unspecified) NSString* title;
@property(nonatomic, copy, nullable) NSString* location;
@end

// EventKit/EKEvent.h
@interface EKEvent : EKCalendarItem
@property(nonatomic, getter=isAllDay) BOOL allDay;
@property(null_unspecified, nonatomic, copy) NSDate* startDate;
@property(null_unspecified, nonatomic, copy) NSDate* endDate;
@end

// EventKit/EKEventStore.h
typedef void (^EKEventStoreRequestAccessCompletionHandler)(BOOL granted, NSError* _Nullable error);

@interface EKEventStore : NSObject
- (id)init;
// macos 14.0; the completion runs on an arbitrary queue.
- (void)requestFullAccessToEventsWithCompletion:(EKEventStoreRequestAccessCompletionHandler)completion;
- (NSArray<EKCalendar*>*)calendarsForEntityType:(EKEntityType)entityType;
- (NSPredicate*)predicateForEventsWithStartDate:(NSDate*)startDate
                                        endDate:(NSDate*)endDate
                                      calendars:(nullable NSArray<EKCalendar*>*)calendars;
- (NSArray<EKEvent*>*)eventsMatchingPredicate:(NSPredicate*)predicate;
@end

NS_ASSUME_NONNULL_END
