#pragma once

#include "cli/CliOptions.h"

#include <string>
#include <vector>

// The command line of auralon-cli: its options, read into CliOptions with every value
// checked as the window checks it, and the help text made from the same table.
namespace cli_arguments {

// What the machine allows for --jobs (the Options dialog's "Files at once").
struct JobLimits {
    int byDefault = 1;
    int most = 1;
};

struct ParseResult {
    CliOptions options;
    std::string error;  // names the bad option or value; empty when the arguments hold
};

// Reads the arguments after the program's name. Options and paths may come in any order;
// "--" ends the options. A value follows "=" or comes as the next argument (short options:
// attached or the next argument).
ParseResult parse(const std::vector<std::string>& args, const JobLimits& limits);

std::string helpText(const JobLimits& limits);

}  // namespace cli_arguments
