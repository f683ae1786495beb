// The window list for one run of the screen tool, as a KWin script loaded by
// the tool for that run: every window KWin manages, frontmost first, sent as
// one JSON text to the tool's own connection on the session bus, after which
// the script unloads itself (the tool unloads it too; this covers a tool that
// died after starting it). It reads and reports; the tool decides.
//
// Plasma 5.27 and Plasma 6 name parts of the scripting API differently; the
// `api` object is the one place that knows both.
(function () {
  "use strict";
  var replyService = "@REPLY_SERVICE@";
  var pluginName = "@PLUGIN_NAME@";

  // KWin's lists (6's stackingOrder, desktops) reach a script as array-like
  // sequences, not arrays: copied into one.
  function array(list) {
    var out = [];
    for (var i = 0; list && i < list.length; ++i) out.push(list[i]);
    return out;
  }

  var api = {
    // Every managed window, bottom of the stack first.
    stackingOrder: function () {
      if (typeof workspace.clientList !== "function") return array(workspace.stackingOrder);  // 6
      var windows = array(workspace.clientList());  // 5.27: unordered, each with its place
      windows.sort(function (a, b) { return a.stackingOrder - b.stackingOrder; });
      return windows;
    },
    activeWindow: function () {
      return workspace.activeWindow !== undefined ? workspace.activeWindow : workspace.activeClient;
    },
    onCurrentDesktop: function (w) {
      if (w.onAllDesktops) return true;
      if (typeof w.desktop === "number") return w.desktop === workspace.currentDesktop;  // 5.27: numbers
      var current = workspace.currentDesktop;  // 6: desktop objects
      return array(w.desktops).some(function (d) { return d === current || (d && current && d.id === current.id); });
    },
    onCurrentActivity: function (w) {
      var activities = array(w.activities);
      if (activities.length === 0) return true;  // on every activity
      return activities.indexOf(workspace.currentActivity) >= 0;
    },
    // The area a window capture without decoration and shadow shows, in
    // logical coordinates. 6 names it; in 5.27 the frame holds a server-side
    // decoration around the client's buffer, and a client-drawn shadow lies
    // outside the frame inside the buffer, so the client area is where the
    // two overlap.
    clientArea: function (w) {
      if (w.clientGeometry) return rect(w.clientGeometry);
      var frame = rect(w.frameGeometry), buffer = w.bufferGeometry ? rect(w.bufferGeometry) : frame;
      var left = Math.max(frame.x, buffer.x), top = Math.max(frame.y, buffer.y);
      var right = Math.min(frame.x + frame.width, buffer.x + buffer.width);
      var bottom = Math.min(frame.y + frame.height, buffer.y + buffer.height);
      if (right <= left || bottom <= top) return frame;
      return {x: left, y: top, width: right - left, height: bottom - top};
    }
  };

  function rect(r) {
    return {x: Number(r.x), y: Number(r.y), width: Number(r.width), height: Number(r.height)};
  }

  // Text as KWin holds it may carry a lone UTF-16 surrogate, which no JSON
  // reader takes: it becomes U+FFFD.
  function text(value) {
    if (value === undefined || value === null) return "";
    var s = String(value), out = "";
    for (var i = 0; i < s.length; ++i) {
      var c = s.charCodeAt(i);
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.length) {
        var d = s.charCodeAt(i + 1);
        if (d >= 0xDC00 && d <= 0xDFFF) {
          out += s.charAt(i) + s.charAt(i + 1);
          ++i;
          continue;
        }
      }
      out += c >= 0xD800 && c <= 0xDFFF ? "\uFFFD" : s.charAt(i);
    }
    return out;
  }

  // What kind of window it is, by the first of KWin's window types that holds.
  var kinds = ["desktopWindow", "dock", "toolbar", "menu", "notification", "criticalNotification",
               "onScreenDisplay", "appletPopup", "splash", "dropdownMenu", "popupMenu", "comboBox", "tooltip",
               "dndIcon"];
  function kindOf(w) {
    for (var i = 0; i < kinds.length; ++i) {
      if (w[kinds[i]] === true) return kinds[i];
    }
    return w.specialWindow === true ? "specialWindow" : "normal";
  }

  var active = api.activeWindow();
  var report = {active: active ? text(active.internalId) : "", windows: []};
  var stack = api.stackingOrder();
  for (var i = stack.length - 1; i >= 0; --i) {
    var w = stack[i];
    if (!w || w.deleted === true || w.managed === false) continue;
    report.windows.push({
      id: text(w.internalId),
      pid: Number(w.pid),
      caption: text(w.caption),
      resourceClass: text(w.resourceClass),
      desktopFileName: text(w.desktopFileName),
      area: api.clientArea(w),
      kind: kindOf(w),
      opacity: Number(w.opacity),
      minimized: w.minimized === true,
      hidden: w.hidden === true,
      onCurrentDesktop: api.onCurrentDesktop(w) && api.onCurrentActivity(w)
    });
  }
  callDBus(replyService, "/org/halvic/WindowList", "org.halvic.WindowList", "Report", JSON.stringify(report));
  callDBus("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "unloadScript", pluginName);
})();
