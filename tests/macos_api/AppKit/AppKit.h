// Stand-in for <AppKit/AppKit.h> (macOS 26 SDK): only what the macOS backends
// use. (The real umbrella also brings in CoreGraphics; this one does not, which
// only makes the check stricter.)
#pragma once

#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

// AppKit/NSRunningApplication.h (macos 10.6)
@interface NSRunningApplication : NSObject
@property(readonly) pid_t processIdentifier;
@property(nullable, readonly, copy) NSString* localizedName;
@end

// AppKit/NSWorkspace.h; frontmostApplication since macos 10.7
@interface NSWorkspace : NSObject
@property(class, readonly, strong) NSWorkspace* sharedWorkspace;
@property(nullable, readonly, strong) NSRunningApplication* frontmostApplication;
@end

NS_ASSUME_NONNULL_END
