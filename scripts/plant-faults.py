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
    # Written from the product code alone by someone who had not read the tests (the comment above each says
    # what its author expected the slip to break); those that repeated a slip above were left out.
    # The host sees "/tmp/..." unescaped instead of "\/tmp\/..." in image_path and in every "/" of titles.
    ("b-json-solidus", "common/json.cpp",
     r'''      case '/': out += "\\/"; break;''',
     r'''      case '/': out += "/"; break;''',
     "unit x11 wayland eds"),
    # A title or event text holding U+001F is printed raw inside the JSON string: the host's parser rejects the line.
    ("b-json-control-edge", "common/json.cpp",
     "if (static_cast<unsigned char>(ch) < 0x20) {",
     "if (static_cast<unsigned char>(ch) < 0x1F) {",
     "unit x11 wayland eds"),
    # Encoded surrogates (ED A0..BF ..) pass as valid UTF-8, so ill-formed text reaches the host instead of U+FFFD.
    ("b-utf8-surrogates", "common/utf8.cpp",
     "if (b0 == 0xED) hi = 0x9F;",
     "if (b0 == 0xED) hi = 0xBF;",
     "unit x11 wayland eds"),
    # Any text that ends in a multi-byte character ("Toplanti" with a dotless i at the end) is judged invalid:
    # the title is mangled to U+FFFD and the line becomes json_encode_failed.
    ("b-utf8-tail-length", "common/utf8.cpp",
     "if (s.size() < n) return 0;",
     "if (s.size() <= n) return 0;",
     "unit x11 wayland eds"),
    # A string number "+-5" reads as -5 instead of being unreadable (0).
    ("b-rec-plus-minus", "screen_helper/window_record.cpp",
     "if (text.empty() || text.front() == '-' || text.front() == '+') return false;",
     "if (text.empty() || text.front() == '+') return false;",
     "unit"),
    # "INF"/"Infinity" written in capitals no longer reads as infinity (becomes 0.0): missing case fold.
    ("b-rec-inf-case", "screen_helper/window_record.cpp",
     "return text.starts_with('i') || text.starts_with('I');",
     "return text.starts_with('i');",
     "unit"),
    # The reported bounds have width and height swapped (a 604x394 window reports 394x604).
    ("b-rec-bounds-swap", "screen_helper/window_record.cpp",
     'cgDoubleValue(lookup(bounds, "Width")), cgDoubleValue(lookup(bounds, "Height"))',
     'cgDoubleValue(lookup(bounds, "Height")), cgDoubleValue(lookup(bounds, "Width"))',
     "unit x11 wayland"),
    # "capture_active_window <path>" no longer writes the output file: the path argument is ignored.
    ("b-run-output-arg", "screen_helper/screen_run.cpp",
     "std::string outputPath = args.size() > 2 ? args[2] : std::string();",
     "std::string outputPath = args.size() > 3 ? args[2] : std::string();",
     "unit x11 wayland"),
    # "Operation Not Permitted" from the screenshot program is reported as capture_failed, not permission_denied.
    ("b-run-permitted-fold", "screen_helper/screen_run.cpp",
     'folded.find("not permitted") != std::string::npos',
     'message.find("not permitted") != std::string::npos',
     "unit x11 wayland"),
    # The failure detail comes from the child's stdout instead of its stderr when both are valid UTF-8.
    ("b-capture-message-source", "screen_helper/capture.cpp",
     "  if (isValidUtf8(errBytes)) {\n    text = errBytes;\n  } else if (isValidUtf8(outBytes)) {\n    text = outBytes;\n  }",
     "  if (isValidUtf8(outBytes)) {\n    text = outBytes;\n  } else if (isValidUtf8(errBytes)) {\n    text = errBytes;\n  }",
     "unit x11 wayland"),
    # The PNG name carries a lower-case UUID instead of the canonical upper-case form.
    ("b-uuid-lowercase", "screen_helper/uuid.cpp",
     'constexpr char kHex[] = "0123456789ABCDEF";',
     'constexpr char kHex[] = "0123456789abcdef";',
     "unit x11 wayland"),
    # The last dash of the UUID lands after byte 12: 8-4-4-8-4 groups instead of 8-4-4-4-12.
    ("b-uuid-dash", "screen_helper/uuid.cpp",
     "if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');",
     "if (i == 4 || i == 6 || i == 8 || i == 12) text.push_back('-');",
     "unit x11 wayland"),
    # A relative TMPDIR ("tmp") is used as the PNG's directory instead of falling back to /tmp.
    ("b-tmpdir-relative", "screen_helper/linux_paths.cpp",
     "if (tmpdir != nullptr && tmpdir[0] == '/') return tmpdir;",
     "if (tmpdir != nullptr && tmpdir[0] != '\\0') return tmpdir;",
     "unit x11 wayland"),
    # An empty WAYLAND_DISPLAY counts as a Wayland session: on plain X11 only the focused window is considered.
    ("b-wayland-empty-display", "screen_helper/window_system.cpp",
     "return (waylandDisplay != nullptr && waylandDisplay[0] != '\\0') ||",
     "return (waylandDisplay != nullptr) ||",
     "unit x11"),
    # The current desktop is read from the wrong root property: windows on other virtual desktops are candidates.
    ("b-x11-current-desktop-key", "screen_helper/x11/x11_window_list.cpp",
     "const auto currentDesktop = read32(c, c.root(), AtomName::NetCurrentDesktop);",
     "const auto currentDesktop = read32(c, c.root(), AtomName::NetWmDesktop);",
     "x11"),
    # Under a reparenting window manager the bounds x is the offset inside the frame (0 or 1), not the root x.
    ("b-x11-frame-relative-x", "screen_helper/x11/x11_window_list.cpp",
     "f.x = r.origin->dst_x;",
     "f.x = r.geometry->x;",
     "x11"),
    # owner_name is empty for every X11 window: the class is read from the NUL separator on (off by one).
    ("b-x11-wmclass-offset", "screen_helper/x11/x11_property.cpp",
     "const std::string_view className = bytes.substr(end + 1);",
     "const std::string_view className = bytes.substr(end);",
     "x11"),
    # A Latin-1 (STRING) title such as "caf\xe9" is treated as UTF-8: its accented letters become U+FFFD.
    ("b-x11-string-latin1", "screen_helper/x11/x11_property.cpp",
     "if (property.type == XCB_ATOM_STRING) return latin1ToUtf8(property.bytes);",
     "if (property.type == XCB_ATOM_STRING) return sanitizedUtf8(property.bytes);",
     "x11"),
    # Latin-1 letters from 0xC0 up (e.g. 0xE9) become ill-formed UTF-8 (C3 E9): the whole line turns json_encode_failed.
    ("b-latin1-low-bits", "screen_helper/x11/x11_text.cpp",
     "out += static_cast<char>(0x80 | (b & 0x3F));",
     "out += static_cast<char>(0x80 | (b & 0x7F));",
     "unit x11"),
    # A focused app whose pid is unknown matches every listed window without a pid (those read 0).
    ("b-x11-unknown-pid", "screen_helper/x11/desktop_x11.cpp",
     "return FrontmostApplication{owner->pid.value_or(-1), owner->name};",
     "return FrontmostApplication{owner->pid.value_or(0), owner->name};",
     "x11"),
    # Windows without _NET_WM_PID get no owner pid: the X-Resource query asks for the client XID, not the pid.
    ("b-x11-xres-mask", "screen_helper/x11/x11_client_pid.cpp",
     "const xcb_res_client_id_spec_t pidOfWindow{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};",
     "const xcb_res_client_id_spec_t pidOfWindow{window, XCB_RES_CLIENT_ID_MASK_CLIENT_XID};",
     "x11"),
    # The reported bounds height equals the width (copy-paste of the Width entry).
    ("b-x11-record-height", "screen_helper/x11/x11_window_record.cpp",
     '{"Height", NumberObject::fromInteger(facts.height)},',
     '{"Height", NumberObject::fromInteger(facts.width)},',
     "unit x11"),
    # The content area takes the container's size: borders and title bar are included in bounds and PNG.
    ("b-sway-content-size", "screen_helper/sway/sway_tree.cpp",
     "return LogicalRect{outer->x + inner->x, outer->y + inner->y, inner->width, inner->height};",
     "return LogicalRect{outer->x + inner->x, outer->y + inner->y, outer->width, outer->height};",
     "unit wayland"),
    # A floating window cannot be found by id: the screenshot program reports "no window N" for it.
    ("b-sway-find-floating", "screen_helper/sway/sway_tree.cpp",
     'for (const char* children : std::array{"nodes", "floating_nodes"}) {',
     'for (const char* children : std::array{"nodes"}) {',
     "unit wayland"),
    # The reported bounds y is the window's x.
    ("b-sway-bounds-y", "screen_helper/sway/sway_windows.cpp",
     '{"Y", NumberObject::fromInteger(area->y)},',
     '{"Y", NumberObject::fromInteger(area->x)},',
     "unit wayland"),
    # With a workspace or split container focused, the least recently focused window stands for it.
    ("b-sway-focus-stand-in", "screen_helper/sway/sway_windows.cpp",
     "node = views.front().node;",
     "node = views.back().node;",
     "unit wayland"),
    # The reply type is read from the size field: every IPC reply is rejected, sway is never used.
    ("b-ipc-type-offset", "screen_helper/sway/sway_ipc.cpp",
     "std::memcpy(&replyType, head + sizeof kMagic + sizeof size, sizeof replyType);",
     "std::memcpy(&replyType, head + sizeof kMagic, sizeof replyType);",
     "unit wayland"),
    # "-l 0" is accepted as a window number instead of being a usage error.
    ("b-cmd-window-zero", "screencapture/command_line.cpp",
     "end != number.data() + number.size() || window == 0 ||",
     "end != number.data() + number.size() ||",
     "unit x11 wayland"),
    # Sub filter predicts the second pixel's first byte from 0: the PNG's pixel (1, y) has the wrong red value.
    ("b-png-sub-edge", "screencapture/png_encoder.cpp",
     "const int a = i >= kBytesPerPixel ? row[i - kBytesPerPixel] : 0;",
     "const int a = i > kBytesPerPixel ? row[i - kBytesPerPixel] : 0;",
     "unit x11 wayland"),
    # Every chunk CRC leaves out the last 4 data bytes: PNG readers reject the file (CRC error).
    ("b-png-crc-length", "screencapture/png_encoder.cpp",
     "putBigEndian(out, libdeflate_crc32(0, out.data() + start, length + 4));",
     "putBigEndian(out, libdeflate_crc32(0, out.data() + start, length));",
     "unit x11 wayland"),
    # A window across a scale-1 and a scale-2 output is captured at scale 1, losing detail.
    ("b-plan-scale-min", "screencapture/wayland/capture_plan.cpp",
     "plan.scale = overlaps.size() == 1 ? output.scale : std::max(plan.scale, output.scale);",
     "plan.scale = overlaps.size() == 1 ? output.scale : std::min(plan.scale, output.scale);",
     "unit wayland"),
    # The region is taken relative to the window instead of the output: the PNG shows the output's top-left corner.
    ("b-plan-region-origin", "screencapture/wayland/capture_plan.cpp",
     "const sway::LogicalRect region{o.area.x - o.output->rect.x, o.area.y - o.output->rect.y, o.area.width,",
     "const sway::LogicalRect region{o.area.x - window.x, o.area.y - window.y, o.area.width,",
     "unit wayland"),
    # A window the compositor marks invisible (a tab behind another) is captured, showing whatever covers it.
    ("b-place-invisible", "screencapture/wayland/container_place.cpp",
     "if (visible == node->end() || !visible->is_boolean() || !visible->get<bool>()) return window + \" is not on screen\";",
     "if (visible == node->end() || !visible->is_boolean()) return window + \" is not on screen\";",
     "unit wayland"),
    # XRGB8888 frames are read with red and blue swapped: the PNG's colours are wrong on sway.
    ("b-shm-xrgb-order", "screencapture/wayland/shm_pixels.cpp",
     "Layout{1, 4, 2, 1, 0},                          // XRGB8888 (wl_shm's own code)",
     "Layout{1, 4, 0, 1, 2},                          // XRGB8888 (wl_shm's own code)",
     "unit wayland"),
    # Outputs turned flipped-90 / flipped-270 are not treated as turned: the picture is sheared or refused.
    ("b-shm-flipped-turn", "screencapture/wayland/shm_pixels.cpp",
     "const bool turned = frame.transform % 2 == 1;  // 90 and 270, mirrored or not",
     "const bool turned = frame.transform == 1 || frame.transform == 3;  // 90 and 270, mirrored or not",
     "unit wayland"),
    # With screencopy v3 every frame is copied twice (at buffer and at buffer_done): the compositor kills the connection.
    ("b-scopy-v3-copy", "screencapture/wayland/screencopy.cpp",
     "if (f.version < 3) f.copy();  // no buffer_done will follow",
     "if (f.version <= 3) f.copy();  // no buffer_done will follow",
     "wayland"),
    # On an output turned by 90/270 degrees the cut-out part's height is the window's width: wrong crop or failure.
    ("b-scopy-part-height", "screencapture/wayland/screencopy.cpp",
     "pixels(piece.region.y + piece.region.height) - y};",
     "pixels(piece.region.y + piece.region.width) - y};",
     "wayland"),
    # The visible right edge is clipped against the screen height: windows right of x=height come out partly black.
    ("b-grab-clip-right", "screencapture/x11/window_grab_x11.cpp",
     "screenWidth = WidthOfScreen(attributes.screen)",
     "screenWidth = HeightOfScreen(attributes.screen)",
     "x11"),
    # "today"/"week"/"tomorrow" end counted from now instead of from midnight: tonight's events spill into the window end.
    ("b-tw-end-from-now", "calendar_helper/time_window.cpp",
     "return {start, addDaysOrKeep(cal, start, spanDays)};",
     "return {start, addDaysOrKeep(cal, now, spanDays)};",
     "unit eds"),
    # "next" starts at local midnight instead of now: events that already ended today are listed.
    ("b-tw-next-midnight", "calendar_helper/time_window.cpp",
     'if (mode == "next") return windowFromNow(cal, now, 30);',
     'if (mode == "next") return dayWindow(cal, now, 0, 30);',
     "unit eds"),
    # An access request that times out is reported as permission_denied with an empty detail, not timeout.
    ("b-access-timeout-order", "calendar_helper/calendar_access.cpp",
     "  if (answer.timedOut) {\n    return JsonObject{{\"ok\", false},\n                      {\"error\", \"timeout\"},\n                      {\"detail\", \"Takvim izin istegi zaman asimina ugradi.\"}};\n  }\n  if (answer.unavailable) {\n    return JsonObject{{\"ok\", false}, {\"error\", \"calendar_unavailable\"}, {\"detail\", \"Takvim deposuna ulasilamadi.\"}};\n  }\n  if (!answer.granted) {\n    return JsonObject{{\"ok\", false}, {\"error\", \"permission_denied\"}, {\"detail\", answer.errorMessage}};\n  }",
     "  if (answer.unavailable) {\n    return JsonObject{{\"ok\", false}, {\"error\", \"calendar_unavailable\"}, {\"detail\", \"Takvim deposuna ulasilamadi.\"}};\n  }\n  if (!answer.granted) {\n    return JsonObject{{\"ok\", false}, {\"error\", \"permission_denied\"}, {\"detail\", answer.errorMessage}};\n  }\n  if (answer.timedOut) {\n    return JsonObject{{\"ok\", false},\n                      {\"error\", \"timeout\"},\n                      {\"detail\", \"Takvim izin istegi zaman asimina ugradi.\"}};\n  }",
     "unit eds"),
    # Events are ordered by end instead of start: a long meeting starting first is listed after a short later one.
    ("b-records-sort-end", "calendar_helper/event_records.cpp",
     "return a.startDate.secondsSince1970 < b.startDate.secondsSince1970;",
     "return a.endDate.secondsSince1970 < b.endDate.secondsSince1970;",
     "unit eds"),
    # All-day and floating events land one month late (tm_mon is 0-based).
    ("b-ical-month", "calendar_helper/ical_values.cpp",
     "fields.tm_mon = i_cal_time_get_month(time) - 1;",
     "fields.tm_mon = i_cal_time_get_month(time);",
     "eds"),
    # An event that starts exactly when the window ends (tomorrow 00:00 for "today") is listed.
    ("b-eds-end-inclusive", "calendar_helper/event_store_eds.cpp",
     "const bool overlaps = s < shared.windowEnd &&",
     "const bool overlaps = s <= shared.windowEnd &&",
     "eds"),
    # The location field reports the event's description (copy-paste of the wrong property).
    ("b-eds-location-prop", "calendar_helper/event_store_eds.cpp",
     "event.location = propertyText(component, I_CAL_LOCATION_PROPERTY, i_cal_property_get_location);",
     "event.location = propertyText(component, I_CAL_DESCRIPTION_PROPERTY, i_cal_property_get_description);",
     "eds"),
    # Calendars with no events in the window are not counted as read: a quiet day gives calendar_unavailable.
    ("b-eds-empty-read", "calendar_helper/event_store_eds.cpp",
     "if (query->read()) ++found.calendarsRead;",
     "if (query->delivered) ++found.calendarsRead;",
     "eds"),
    # The query margin is an hour, not a day: an all-day event on the window's last, partial day is missing.
    ("b-eds-margin-unit", "calendar_helper/event_store_eds.cpp",
     "constexpr time_t kMargin = 86400;",
     "constexpr time_t kMargin = 3600;",
     "eds"),
]


def failing_tests(build, labels):
    """Runs the tests with any of `labels`; returns the names of those that failed."""
    command = ["ctest", "--test-dir", build, "-L", "|".join(labels), "-j2", "--timeout", "180", "--output-on-failure"]
    if "valgrind" not in labels:
        command += ["-LE", "valgrind"]
    # A failing test may print text cut inside a UTF-8 sequence.
    run = subprocess.run(command, capture_output=True, text=True, errors="replace")
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
