// The Desktop on macOS: AppKit for the frontmost application, CoreGraphics for
// the window list. It only translates; which window wins is decided by the
// portable logic.

#import <AppKit/AppKit.h>
#import <CoreGraphics/CoreGraphics.h>
#import <Foundation/Foundation.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "desktop.h"
#include "loose_value.h"
#include "ns_string_utf8.h"
#include "window_list_shaping.h"

namespace halvic {
namespace {

NumberObject numberObject(NSNumber* number) {
  return numberObjectFrom(
      number.objCType, [number] { return static_cast<std::int64_t>(number.longLongValue); },
      [number] { return static_cast<std::uint64_t>(number.unsignedLongLongValue); },
      [number] { return number.doubleValue; });
}

// One property-list value of the window list. A CFBoolean is an NSNumber too
// (0 or 1), as the platform's number views read it; arrays, data and dates are
// values the logic does not read. Values are NSObjects, not `id`, so each
// message is checked against a class; a cast follows each class test.
LooseValue looseValue(NSObject* _Nullable value) {
  if ([value isKindOfClass:[NSNumber class]]) {
    return numberObject((NSNumber*)value);
  }
  if ([value isKindOfClass:[NSString class]]) {
    return utf8String((NSString*)value);
  }
  if ([value isKindOfClass:[NSDictionary class]]) {
    NSDictionary* dictionary = (NSDictionary*)value;
    DictionaryEntries entries;
    entries.reserve(dictionary.count);
    for (NSObject* key in dictionary) {
      std::optional<std::string> name;
      if ([key isKindOfClass:[NSString class]]) {
        name = utf8String((NSString*)key);
      }
      entries.emplace_back(std::move(name), looseValue([dictionary objectForKey:key]));
    }
    return looseValueFromDictionary(std::move(entries));
  }
  return LooseValue::Other{};
}

class MacDesktop final : public Desktop {
 public:
  std::optional<FrontmostApplication> frontmostApplication() override {
    @autoreleasepool {
      NSRunningApplication* application = NSWorkspace.sharedWorkspace.frontmostApplication;
      if (application == nil) {
        return std::nullopt;
      }
      FrontmostApplication result;
      result.processIdentifier = application.processIdentifier;
      result.localizedName = optionalUtf8String(application.localizedName);
      return result;
    }
  }

  std::optional<std::vector<LooseValue>> windowList() override {
    @autoreleasepool {
      // NULL outside a window-server session.
      NSArray* windows = CFBridgingRelease(CGWindowListCopyWindowInfo(
          kCGWindowListOptionOnScreenOnly | kCGWindowListExcludeDesktopElements, kCGNullWindowID));
      if (windows == nil) {
        return std::nullopt;
      }
      // Every element is passed on, dictionary or not: the logic rejects a list
      // that holds anything but records.
      std::vector<LooseValue> records;
      records.reserve(windows.count);
      for (NSObject* window in windows) {
        records.push_back(looseValue(window));
      }
      return records;
    }
  }

  std::string temporaryDirectory() override {
    @autoreleasepool {
      return utf8String(NSTemporaryDirectory());
    }
  }

  // Screen Recording, granted in System Settings. Without it screencapture
  // either fails with a message that names no permission or writes a picture
  // of the desktop behind the window. The preflight never prompts.
  bool screenCaptureAllowed() override { return CGPreflightScreenCaptureAccess(); }

  std::string screenshotProgramPath() override { return "/usr/sbin/screencapture"; }
};

}  // namespace

std::unique_ptr<Desktop> makeSystemDesktop() { return std::make_unique<MacDesktop>(); }

}  // namespace halvic
