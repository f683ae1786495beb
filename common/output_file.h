// The atomic copy of the result text into the file the host named.
#pragma once

#include <string>
#include <string_view>

namespace halvic {

// Creates the parent directories of `path`, then replaces whatever file is at
// `path` with exactly `text`: the bytes go to an auxiliary file created
// exclusively in the same directory, which is renamed over the target, so a
// reader sees the old file or the complete new one. An empty path does
// nothing. Returns false on failure (callers ignore it); no auxiliary file
// survives a failure.
bool writeOutputFile(const std::string& path, std::string_view text);

}  // namespace halvic
