// Result reporting: the one JSON line a run prints, and the optional file copy.
#pragma once

#include <string>

#include "json.h"

namespace halvic {

// Writes `result` as one compact JSON line on standard output (the fallback
// object when it cannot be serialized). When `outputPath` is not empty the same
// text, without the line feed, first replaces the file at that path atomically.
// Always returns; every failure is swallowed. Callers end the process with
// status 0 afterwards.
void emit(const JsonValue& result, const std::string& outputPath = {});

// Call once at the top of main. Makes a closed pipe on standard output an
// ordinary write error instead of a fatal signal, and points any closed
// standard descriptor at /dev/null, so that no file, socket or pipe the run
// opens later can take descriptor 1 and receive the result line.
void guardStandardStreams();

// Prints the fallback object's line (and copies it into `outputPath` as emit
// does), for a run that could not even build its result. Without an output
// path nothing is allocated.
void emitFallback(const std::string& outputPath = {});

}  // namespace halvic
