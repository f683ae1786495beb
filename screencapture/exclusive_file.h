// Writing the PNG where nothing may be followed or replaced.
#pragma once

#include <string>
#include <string_view>

namespace halvic::capture {

// Creates `path` anew (owner read/write only) and writes `bytes` to it. Fails
// when anything already exists at the path, a symbolic link included. A file
// this call created but could not fill is removed again. Returns the empty
// string on success, otherwise why it failed.
std::string writeNewFile(const std::string& path, std::string_view bytes);

}  // namespace halvic::capture
