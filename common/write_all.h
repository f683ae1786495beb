// Writing a whole buffer to a descriptor.
#pragma once

#include <string_view>

namespace halvic {

// Writes all of `bytes` to `fd`, through interrupted and partial writes and a
// non-blocking descriptor that is momentarily full. False on any other error.
bool writeAll(int fd, std::string_view bytes);

}  // namespace halvic
