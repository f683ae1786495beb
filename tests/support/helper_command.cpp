#include "helper_command.h"

#include <cstdlib>
#include <sstream>

namespace halvic::testing {

std::vector<std::string> helperCommand(const std::string& helper, const std::vector<std::string>& args) {
  std::vector<std::string> argv;
  if (const char* wrapper = std::getenv("HALVIC_E2E_HELPER_WRAPPER")) {
    std::istringstream words(wrapper);
    for (std::string word; words >> word;) argv.push_back(word);
  }
  argv.push_back(helper);
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

bool helperIsWrapped() { return std::getenv("HALVIC_E2E_HELPER_WRAPPER") != nullptr; }

}  // namespace halvic::testing
