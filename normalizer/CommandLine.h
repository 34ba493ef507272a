#pragma once

#include "GainRules.h"
#include "WavFormat.h"

#include <string>
#include <vector>

// The normaliser's command line: client [-b | -bv | -m] [-n] [--levels] [--target=LUFS]
// [--ceiling=DBTP] [--limiter=on|off] "<pattern>"...
// or, measuring raw samples on standard input:
// client --measure --format=s16le|f32le --channels=N --rate=HZ [--layout=MASK] -
namespace command_line {

struct Options {
    gain_rules::Mode mode = gain_rules::Mode::Track;
    gain_rules::Settings settings{.limitPeaks = true};
    bool dryRun = false;
    bool levels = false;  // each file's figures, as --measure gives them, before its line
    bool help = false;
    bool version = false;
    std::vector<std::string> patterns;
    bool measure = false;
    WavFormat rawFormat;  // of the samples --measure reads
};

struct ParseResult {
    Options options;
    std::string error;  // empty when the line is good
};

// args without the program name.
ParseResult parse(const std::vector<std::string>& args);

std::string usage();

}  // namespace command_line
