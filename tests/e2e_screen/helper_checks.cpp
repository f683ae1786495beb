#include "helper_checks.h"

#include <gtest/gtest.h>

namespace halvic::e2e {
namespace {

std::string shortened(const std::string& text) {
  return text.size() <= 400 ? text : text.substr(0, 400) + "... (" + std::to_string(text.size()) + " bytes)";
}

}  // namespace

std::string expectOneCleanLine(const testing::Outcome& outcome) {
  EXPECT_FALSE(outcome.timedOut) << "the helper did not end";
  EXPECT_TRUE(outcome.exited) << "ended by signal " << outcome.signal;
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.err, "");
  const std::size_t lineFeed = outcome.out.find('\n');
  if (lineFeed == std::string::npos || lineFeed + 1 != outcome.out.size()) {
    ADD_FAILURE() << "not exactly one line: " << shortened(outcome.out);
    return {};
  }
  return outcome.out.substr(0, lineFeed);
}

nlohmann::json parseResult(const std::string& text) {
  nlohmann::json result = nlohmann::json::parse(text, nullptr, false);
  if (result.is_discarded() || !result.is_object() || !result.contains("ok") || !result["ok"].is_boolean()) {
    ADD_FAILURE() << "not a result object: " << shortened(text);
    return nlohmann::json::object();
  }
  return result;
}

}  // namespace halvic::e2e
