#pragma once

#include "cli/CliArguments.h"

#include <string>
#include <vector>

// The three phases of a job spread over many machines, as subcommands of auralon-cli:
//   scan  --records=DIR [--shard=I/N] [--root=DIR] PATH... | --files-from=FILE
//   merge --records=DIR --plan=FILE [mode and settings] [--group-by=folder] [--root=DIR]
//   apply --plan=FILE [--shard=I/N] [--report=FILE]
// Any machine runs any shard: a shard is the files whose key hashes to it. Without --root, merge
// takes the root the records name.
namespace cluster_commands {

// The subcommand's name when the arguments begin with one.
bool isSubcommand(const std::vector<std::string>& args);

// Runs the subcommand in args[0]; an exit status as the job's (0, 1, 2, 130). Scan and apply
// need a QCoreApplication.
int run(const std::vector<std::string>& args, const cli_arguments::JobLimits& limits, const std::string& version);

std::string helpText();

}  // namespace cluster_commands
