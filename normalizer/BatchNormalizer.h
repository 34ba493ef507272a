#pragma once

#include "GainRules.h"
#include "normalizer/CommandLine.h"
#include "normalizer/FileAnalysis.h"
#include "normalizer/LineWriter.h"

#include <optional>
#include <string>
#include <vector>

// One run of the normaliser over the files its patterns match: measures them in
// parallel, decides the gains by the mode, rewrites in parallel, and prints one line
// per file as soon as that file is done.
class BatchNormalizer {
public:
    BatchNormalizer(const command_line::Options& options, LineWriter& lines);

    // The exit status: 0, 1 when some file could not be processed, 2 when a pattern
    // matched nothing (then nothing is touched).
    int run();

private:
    struct Item {
        std::string name;  // as matched: what the lines show
        std::string path;  // resolved, so that a link is rewritten at its target
        std::optional<FileAnalysis> analysis;
        bool failed = false;
    };

    bool expandPatterns();
    bool analyse(Item& item);
    void finish(Item& item, const gain_rules::Decision& decision);
    void fail(Item& item, const std::string& reason);
    std::string levelsText(const gain_rules::Levels& levels) const;

    command_line::Options options_;
    LineWriter& lines_;
    std::vector<Item> items_;
};
