// The checks every run of the screen helper must pass, and its result parsed.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "program_launch.h"

namespace halvic::e2e {

// The checks every run of the helper must pass, whatever it reports: it
// exited (no signal) with status 0, wrote nothing to stderr and exactly one
// line to stdout. Returns that line (without its line feed); adds a gtest
// failure and returns "" otherwise.
std::string expectOneCleanLine(const testing::Outcome& outcome);

// The line or file text as a JSON object with a boolean "ok"; adds a gtest
// failure and returns an empty object otherwise.
nlohmann::json parseResult(const std::string& text);

}  // namespace halvic::e2e
