// Running our window-list script (window_list.js) in KWin for one question.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "kwin_bus.h"
#include "kwin_session.h"

namespace halvic::kwin {

// The text of window_list.js, with @REPLY_SERVICE@ and @PLUGIN_NAME@ where
// each run's values go.
std::string_view windowListScript();

// Loads `scriptTemplate` (placeholders as above) as a KWin script under a
// name of this connection's own, starts it and returns the text it reports to
// this connection by `deadline`, or nullopt. Only KWin's own connection is
// listened to. The script is unloaded on every path: when KWin has stopped
// answering, the unload is queued behind the load on the bus, so a KWin that
// wakes up loads and unloads it in that order.
std::optional<std::string> runWindowListScript(SessionKWin& kwin, std::string_view scriptTemplate,
                                               Clock::time_point deadline);

}  // namespace halvic::kwin
