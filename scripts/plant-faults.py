#!/usr/bin/env python3
"""Plants plausible slips in the product code one at a time and records which tests catch each.

    scripts/plant-faults.py --build DIR [--source DIR] [--labels unit,x11,...] [--list] [ID ...]

For each fault: replace one exact text (it must occur once), rebuild, run the tests carrying the fault's
labels (only those also named by --labels, when given), note the failing tests, restore the file. Prints
one line per fault: its id and the tests that failed, or ESCAPED. The build directory must be configured
already; the sanitizer and fuzz builds are not needed.
"""
import argparse
import pathlib
import re
import subprocess
import sys

# id, file, text, replacement, labels of the suites that run that code
FAULTS = [
    # JSON writer
    ("json-quote", "common/json.cpp", r"""case '"': out += "\\\""; break;""", r"""case '"': out += "\""; break;""", "unit"),
    ("json-control-hex", "common/json.cpp", "out.push_back(kHex[ch & 0xF]);", "out.push_back(kHex[(ch >> 4) & 0xF]);", "unit"),
    ("json-infinity", "common/json.cpp", "if (!std::isfinite(v)) return false;", "if (std::isnan(v)) return false;", "unit"),
    ("json-array-comma", "common/json.cpp", "for (const auto& element : v) {\n            if (!first)",
     "for (const auto& element : v) {\n            if (first)", "unit"),
    ("json-key-replace", "common/json.cpp", "member.second = std::move(value);\n      return *this;",
     "member.second = std::move(value);", "unit"),
    # Output file
    ("file-mode", "common/output_file.cpp", "fchmod(fd, 0666 & ~mask);", "fchmod(fd, 0644 & ~mask);", "unit"),
    ("file-nested-dirs", "common/output_file.cpp", "fs::create_directories(parent, ignored);",
     "fs::create_directory(parent, ignored);", "unit"),
    ("file-leftover", "common/output_file.cpp", "if (!ok) unlink(aux.c_str());", "", "unit"),
    ("emit-newline-in-file", "common/emit.cpp", "  writeOutputFile(outputPath, text);\n  text.push_back('\\n');",
     "  text.push_back('\\n');\n  writeOutputFile(outputPath, text);", "unit x11"),
    ("exclusive-overwrite", "screencapture/exclusive_file.cpp", "O_CREAT | O_EXCL | O_NOFOLLOW",
     "O_CREAT | O_TRUNC | O_NOFOLLOW", "x11 wayland"),
    # Selection rules and the run's result
    ("select-alpha-boundary", "screen_helper/window_selection.cpp", "<= kAlphaThreshold", "< kAlphaThreshold", "unit"),
    ("select-width-boundary", "screen_helper/window_selection.cpp", "std::fabs(rect.width) >= kMinimumWidth",
     "std::fabs(rect.width) > kMinimumWidth", "unit"),
    ("select-blank-title", "screen_helper/window_selection.cpp",
     "!trimWhitespaceAndNewlines(stringOrEmpty(lookup(record, kCGWindowName))).empty()",
     "!stringOrEmpty(lookup(record, kCGWindowName)).empty()", "unit"),
    ("select-tie-backmost", "screen_helper/window_selection.cpp", "return area > other.area;",
     "return area >= other.area;", "unit"),
    ("select-layer", "screen_helper/window_selection.cpp", "cgIntValue(lookup(record, kCGWindowLayer)) != 0",
     "cgIntValue(lookup(record, kCGWindowLayer)) < 0", "unit"),
    ("select-excluded-owner", "screen_helper/window_selection.cpp", '"Control Center"', '"Control Centre"', "unit"),
    ("run-owner-fallback", "screen_helper/screen_run.cpp", "ownerValue && ownerValue->asString() ? *ownerValue->asString()",
     "ownerValue && ownerValue->asString() && frontmostName.empty() ? *ownerValue->asString()", "unit"),
    ("run-root-directory", "screen_helper/screen_run.cpp", "while (directory.size() > 1 &&",
     "while (!directory.empty() &&", "unit"),
    ("run-permission-words", "screen_helper/screen_run.cpp", 'folded.find("not permitted")', 'folded.find("not allowed")', "unit"),
    # Capture runner
    ("capture-stdout-first", "screen_helper/capture.cpp", "childMessage(errBytes, outBytes);",
     "childMessage(outBytes, errBytes);", "unit"),
    ("capture-signal-success", "screen_helper/capture.cpp", "waited == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0",
     "waited == pid && WEXITSTATUS(status) == 0", "unit"),
    ("capture-sigpipe-inherited", "screen_helper/capture.cpp", "sigaddset(&defaults, SIGPIPE);", "", "unit"),
    ("capture-untrimmed", "screen_helper/capture.cpp", "return std::string(trimWhitespaceAndNewlines(text));",
     "return std::string(text);", "unit"),
    # X11 backend and the X11 screenshot program
    ("x11-sticky-hidden", "screen_helper/x11/x11_window_list.cpp", "*desktop != kAllDesktops && ", "", "x11"),
    ("x11-back-to-front", "screen_helper/x11/x11_window_list.cpp", "  std::reverse(windows.begin(), windows.end());\n", "", "x11"),
    ("x11-legacy-title-first", "screen_helper/x11/x11_window_list.cpp",
     "if (netName.present()) return textOf(c, netName);\n  return textOf(c, wmName);",
     "if (wmName.present()) return textOf(c, wmName);\n  return textOf(c, netName);", "x11"),
    ("x11-opacity-scale", "screen_helper/x11/x11_window_record.cpp", "static_cast<double>(0xFFFFFFFFu)",
     "static_cast<double>(0xFFFFu)", "x11"),
    ("x11-dock-normal", "screen_helper/x11/x11_window_record.cpp", "{AtomName::NetWmWindowTypeDock, kDockLayer}",
     "{AtomName::NetWmWindowTypeDock, kNormalLayer}", "x11"),
    ("x11-grab-red-blue", "screencapture/x11/window_grab_x11.cpp",
     "*dst++ = static_cast<std::uint8_t>(p >> rs);", "*dst++ = static_cast<std::uint8_t>(p >> bs);", "x11"),
    ("x11-unbounded", "screen_helper/desktop_linux.cpp",
     "return withDeadline(makeX11Desktop(X11WindowScope::stackingOrder), kRequestTimeout);",
     "return makeX11Desktop(X11WindowScope::stackingOrder);", "x11"),
    ("bounded-close-unbounded", "screen_helper/bounded_desktop.cpp", "if (abandoned_) return;",
     "if (abandoned_) return;\n    delete inner;\n    return;", "x11"),
    # Sway backend and the Wayland screenshot program
    ("sway-tiled-over-floating", "screen_helper/sway/sway_windows.cpp", "v.floating ? 1 : 2", "v.floating ? 2 : 1", "unit wayland"),
    ("shm-turn-90", "screencapture/wayland/shm_pixels.cpp", "case 1: fx = ry, fy = ux; break;",
     "case 1: fx = uy, fy = rx; break;", "unit wayland"),
    # GNOME backend, our extension, its install and the GNOME screenshot path
    ("gnome-x11-frame", "screen_helper/gnome/shell_windows.cpp", 'if (!frame || !flagAt(window, "x11")) return frame;',
     "return frame;", "unit gnome"),
    ("gnome-minimized", "screen_helper/gnome/shell_windows.cpp", ' && !flagAt(window, "minimized")', "", "unit gnome"),
    ("gnome-other-workspace", "screen_helper/gnome/shell_windows.cpp", 'return flagAt(window, "on_workspace") && ',
     "return ", "unit gnome"),
    ("gnome-class-first", "screen_helper/gnome/shell_windows.cpp", "return appId && !appId->empty() ? appId :",
     "return appId && appId->empty() ? appId :", "unit gnome"),
    ("gnome-withheld-no-window", "screen_helper/screen_run.cpp", 'if (std::string withheld = desktop.withheldWindowsDetail(); !withheld.empty())',
     "if (std::string withheld; false)", "unit gnome"),
    ("gnome-frozen-missing", "screen_helper/window_system.cpp",
     "    case GnomeShellProbe::silent:\n      return WindowSystem::gnome;\n    case GnomeShellProbe::extensionMissing:",
     "      return WindowSystem::gnome;\n    case GnomeShellProbe::silent:\n    case GnomeShellProbe::extensionMissing:",
     "unit gnome"),
    ("gnome-extension-any-caller", "gnome-shell-extension/windows.js", " || !this._callers.includes(executable))", ")",
     "gnome"),
    ("gnome-extension-crop-buffer", "gnome-shell-extension/windows.js", "[frame.x + x - buffer.x, frame.y + y - buffer.y,",
     "[x, y,", "gnome"),
    ("gnome-install-destdir", "gnome-shell-extension/install_callers.cmake.in", '"${execdir}/halvic_screen_helper',
     '"$ENV{DESTDIR}${execdir}/halvic_screen_helper', "gnome"),
    ("gnome-uuid-boundary", "screen_helper/gnome/extension_uuid.cpp", "major < 45 ?", "major <= 45 ?", "unit gnome"),
    ("gnome-uuid-unread-version", "screen_helper/gnome/extension_uuid.cpp", "parsed.ec == std::errc() && major < 45",
     "parsed.ec != std::errc() || major < 45", "unit gnome"),
    ("gnome-capture-absolute-area", "screencapture/gnome/window_grab_gnome.cpp", "gnome::ownAreaInFrame(*entry)",
     "gnome::ownArea(*entry)", "gnome"),
    # KWin backend and the KWin screenshot program
    ("kwin-minimized-shown", "screen_helper/kwin/kwin_windows.cpp", "return !window.minimized && !window.hidden &&",
     "return !window.hidden &&", "unit kwin"),
    ("kwin-class-before-desktop-file", "screen_helper/kwin/kwin_windows.cpp",
     "window.desktopFileName.empty() ? window.resourceClass : window.desktopFileName",
     "window.resourceClass.empty() ? window.desktopFileName : window.resourceClass", "unit kwin"),
    ("kwin-bottom-first", "screen_helper/kwin/window_list.js", "for (var i = stack.length - 1; i >= 0; --i)",
     "for (var i = 0; i < stack.length; ++i)", "kwin"),
    ("kwin-script-left-loaded", "screen_helper/kwin/window_list_script.cpp",
     'bus.call(kwinName, "/Scripting", kScripting, "unloadScript", unload, "(b)", Clock::now() + kUnloadTimeout);',
     "g_variant_unref(g_variant_ref_sink(unload));", "kwin"),
    ("kwin-straight-alpha-kept", "screencapture/kwin/raw_image.cpp", "const bool straightAlpha = f == kArgb32 || f == kRgba8888;",
     "const bool straightAlpha = false;", "unit kwin"),
    ("kwin-any-parent", "screen_helper/kwin/kwin_session.cpp", "executableName(parent) == \"kwin_wayland_wrapper\"",
     "!executableName(parent).empty()", "kwin"),
    # EDS backend
    ("eds-ends-at-start", "calendar_helper/event_store_eds.cpp", "(e > shared.windowStart ||", "(e >= shared.windowStart ||", "eds"),
    ("eds-no-margin", "calendar_helper/event_store_eds.cpp", "kMargin = 86400;", "kMargin = 0;", "eds"),
    ("eds-empty-unread", "calendar_helper/event_store_eds.cpp", "return delivered || answered;", "return delivered;", "eds"),
    ("eds-floating-dst", "calendar_helper/ical_values.cpp", "  fields.tm_isdst = -1;\n  return", "  fields.tm_isdst = 0;\n  return", "eds"),
    ("eds-title-kind", "calendar_helper/event_store_eds.cpp", "I_CAL_SUMMARY_PROPERTY, i_cal_property_get_summary",
     "I_CAL_DESCRIPTION_PROPERTY, i_cal_property_get_summary", "eds"),
    ("eds-schemas-unchecked", "calendar_helper/event_store_eds.cpp", "if (!edsSchemasReachable()) {",
     "if (!edsSchemasReachable() && false) {", "eds"),
    ("eds-sourceless-served", "calendar_helper/event_store_eds.cpp", "if (!servesSources(registry)) {",
     "if (!servesSources(registry) && false) {", "eds"),
    ("eds-bus-failure-refused", "calendar_helper/event_store_eds.cpp", "done(turnedAway ? refused : unavailable,",
     "done(turnedAway || error ? refused : unavailable,", "eds"),
    ("eds-bus-refusal-unavailable", "calendar_helper/event_store_eds.cpp", "done(turnedAway ? refused : unavailable,",
     "done(turnedAway && false ? refused : unavailable,", "eds"),
    ("access-unavailable-refused", "calendar_helper/calendar_access.cpp", "if (answer.unavailable) {", "if (false) {",
     "unit eds"),
    # Time windows, the local calendar and the event query
    ("window-week-from-now", "calendar_helper/time_window.cpp", 'if (mode == "week") return dayWindow(cal, now, 0, 7);',
     'if (mode == "week") return windowFromNow(cal, now, 7);', "unit eds"),
    ("window-agenda-days", "calendar_helper/time_window.cpp", "windowFromNow(cal, now, 3)", "dayWindow(cal, now, 0, 3)", "unit eds"),
    ("tz-day-start", "calendar_helper/local_calendar_tz.cpp", "(*date < *day ? low : high) = mid;",
     "(*date <= *day ? low : high) = mid;", "unit eds"),
    ("tz-keeps-dst", "calendar_helper/local_calendar_tz.cpp", "    fields->tm_isdst = -1;\n", "", "unit eds"),
    ("query-no-calendars-unavailable", "calendar_helper/event_query.cpp", "if (!calendars->empty() && found.calendarsRead == 0)",
     "if (found.calendarsRead == 0)", "unit eds"),
    ("records-untitled", "calendar_helper/event_records.cpp", "event.title ? *event.title : std::string(kUntitledEvent)",
     "event.title.value_or(\"\")", "unit eds"),
]


def failing_tests(build, labels):
    """Runs the tests with any of `labels`; returns the names of those that failed."""
    command = ["ctest", "--test-dir", build, "-L", "|".join(labels), "-j2", "--timeout", "180", "--output-on-failure"]
    if "valgrind" not in labels:
        command += ["-LE", "valgrind"]
    run = subprocess.run(command, capture_output=True, text=True)
    if "No tests were found" in run.stdout:
        sys.exit(f"no tests carry the labels {labels}")
    summary = run.stdout.split("The following tests FAILED:")[-1] if run.returncode else ""
    failed = re.findall(r"^\s*\d+ - (\S+)", summary, re.M)
    # A suite registered as one test names its failing cases in its output.
    cases = dict.fromkeys(re.findall(r"^\[  FAILED  \] (\S+\.\S+?)(?:,| \(|$)", run.stdout, re.M))
    return failed + [f"({case})" for case in cases if case not in failed]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", default=str(pathlib.Path(__file__).resolve().parent.parent))
    parser.add_argument("--labels", help="comma-separated; only suites with these labels run")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("ids", nargs="*")
    args = parser.parse_args()
    chosen = [f for f in FAULTS if not args.ids or f[0] in args.ids]
    wanted = set(args.labels.split(",")) if args.labels else None
    for fault_id, path, text, _, _ in chosen:
        count = pathlib.Path(args.source, path).read_text().count(text)
        if count != 1:
            sys.exit(f"{fault_id}: the text to replace occurs {count} times in {path}")
    for fault_id, path, text, replacement, labels in chosen:
        labels = [l for l in labels.split() if wanted is None or l in wanted]
        if args.list or not labels:
            print(f"{fault_id:32} {path}  [{' '.join(labels) or 'not run'}]", flush=True)
            continue
        file = pathlib.Path(args.source, path)
        original = file.read_text()
        try:
            file.write_text(original.replace(text, replacement))
            built = subprocess.run(["ninja", "-C", args.build, "-j2"], capture_output=True, text=True)
            caught = ["(build failed)"] if built.returncode else failing_tests(args.build, labels)
        finally:
            file.write_text(original)
        print(f"{fault_id:32} {' '.join(caught) if caught else 'ESCAPED'}", flush=True)
    if not args.list:
        subprocess.run(["ninja", "-C", args.build, "-j2"], capture_output=True)  # back to the untouched build


if __name__ == "__main__":
    main()
