// How the end-to-end tests start a helper: behind the words of HALVIC_E2E_HELPER_WRAPPER when that is set
// (the valgrind scripts set it; its first word must be an absolute path, as nothing searches PATH).
#pragma once

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace halvic::testing {

inline bool helperIsWrapped() { return std::getenv("HALVIC_E2E_HELPER_WRAPPER") != nullptr; }

inline std::vector<std::string> helperCommand(const std::string& helper, const std::vector<std::string>& args) {
  std::vector<std::string> argv;
  std::istringstream words(helperIsWrapped() ? std::getenv("HALVIC_E2E_HELPER_WRAPPER") : "");
  for (std::string word; words >> word;) argv.push_back(word);
  argv.push_back(helper);
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

}  // namespace halvic::testing
