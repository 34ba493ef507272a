#pragma once

#include "conversion/ConversionCommand.h"
#include "conversion/ExistingOutputs.h"

#include <string>
#include <vector>

// What the command line asks for, as read from its arguments: the job's settings before the
// list is gathered, and how the run reports. Names are the file system's bytes.
struct CliOptions {
    conversion_command::VolumeMode mode = conversion_command::VolumeMode::RmsSingularly;
    int percent = 100;
    std::string gain = "0.00";  // a gain in dB as the window's field would hold it
    std::string format;         // a format box entry ("*.MP3"); empty: the sources' formats
    std::string prefix;
    std::string outputFolder;
    // What becomes of a file already in the output folder under an output's name.
    existing_outputs::Choice existing = existing_outputs::Choice::Fail;
    double targetLufs = -14;
    double ceilingDbtp = -1;
    bool limiter = true;
    bool groupByFolder = false;  // --group-by=folder: each folder's files are a set of their own
    int jobs = 1;
    // Rows whose level would change by less than this are written as copies of their sources'
    // streams; 0: every row is re-encoded.
    double skipWithinDb = 0;
    // Copies of the sources' streams carrying loudness tags instead of adjusted audio.
    bool tagsOnly = false;
    // --no-check: the outputs are not measured and judged after writing.
    bool noCheck = false;

    bool plan = false;       // measure and print the plan; write nothing
    std::string reportFile;  // where the whole report goes after the job; empty: nowhere

    std::vector<std::string> paths;      // files and folders, in the order given
    std::vector<std::string> filesFrom;  // files naming further paths; "-" is standard input
    bool nullSeparated = false;          // names in those files, and fields on stdout, end in NUL

    bool quiet = false;
    bool help = false;
    bool version = false;
};
