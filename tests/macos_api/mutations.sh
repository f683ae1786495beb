#!/usr/bin/env bash
# Shows that check.sh catches the mistakes it exists for: each row plants one
# mistake in a copy of a backend file, and check.sh must reject the copy.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# file | text to replace | replacement | the mistake
mutations=(
  "screen_helper/desktop_macos.mm|.frontmostApplication;|.frontmostApp;|misspelt property"
  "screen_helper/desktop_macos.mm|kCGWindowListExcludeDesktopElements|kCGWindowListExcludeDesktopElement|misspelt constant"
  "screen_helper/desktop_macos.mm|#import <AppKit/AppKit.h>||missing import"
  "screen_helper/desktop_macos.mm|[dictionary objectForKey:key]|[dictionary objectForKeyedValue:key]|misspelt selector"
  "calendar_helper/event_store_eventkit.mm|requestFullAccessToEventsWithCompletion:|requestFullAccessToEventWithCompletion:|misspelt selector"
  "calendar_helper/event_store_eventkit.mm|^(BOOL granted, NSError* _Nullable error)|^(BOOL granted, NSError* _Nullable error, int)|wrong completion block type"
  "calendar_helper/event_store_eventkit.mm|predicateForEventsWithStartDate:dateFromInstant(start)|predicateForEventsWithStartDate:start|wrong argument type"
  "calendar_helper/event_store_eventkit.mm|calendarsForEntityType:EKEntityTypeEvent|calendarsForEntityType:nil|wrong argument type"
  "calendar_helper/event_store_eventkit.mm|event.allDay|event.isAllDayEvent|misspelt property"
  "calendar_helper/local_calendar_macos.mm|toDate:dateFromInstant(t)|toDate:t.secondsSince1970|wrong argument type"
  "calendar_helper/local_calendar_macos.mm|startOfDayForDate:|startOfDay:|misspelt selector"
)

caught=0
missed=0
for row in "${mutations[@]}"; do
  IFS='|' read -r file from to what <<<"$row"
  original=$(<"$root/$file")
  mutated=${original//"$from"/"$to"}
  if [ "$mutated" == "$original" ]; then
    echo "MISSED  $file: '$from' not found, so the mutation ($what) did not apply"
    missed=$((missed + 1))
    continue
  fi
  copy="$work/$(basename "$file")"
  printf '%s\n' "$mutated" >"$copy"
  if output=$("$here/check.sh" "$copy" 2>&1); then
    echo "MISSED  $file: $what ('$from' -> '$to') compiled"
    missed=$((missed + 1))
  else
    echo "caught  $file: $what"
    grep -m1 'error:' <<<"$output" | sed "s|^$work/|        |"
    caught=$((caught + 1))
  fi
done
echo "$caught passed, $missed failed"
[ "$missed" -eq 0 ]
