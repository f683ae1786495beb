// How the end-to-end tests start a helper: behind the words of
// HALVIC_E2E_HELPER_WRAPPER when that is set (the valgrind scripts set it).
#pragma once

#include <string>
#include <vector>

namespace halvic::testing {

// `helper args...`, behind the wrapper's words; the first word must be an
// absolute path, as nothing searches PATH.
std::vector<std::string> helperCommand(const std::string& helper, const std::vector<std::string>& args);
// True when HALVIC_E2E_HELPER_WRAPPER is set. Under valgrind, posix_spawn
// cannot report a failed exec, so the helper sees those as a child exiting 127.
bool helperIsWrapped();

}  // namespace halvic::testing
