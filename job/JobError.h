#pragma once

#include <string>

// Why a row or a job did not end as asked. The job only says what happened; a front end
// decides how to show it (a caption by kind, a line on standard error, ...).
struct JobError {
    enum class Kind {
        None,
        Refused,  // the job will not do it as asked: no safe name, a value, a place
        Folder,   // the output or scratch folder cannot be made, reached or held
        Source,   // a source cannot be opened or probed
        Tool,     // a tool could not start, failed, or printed errors without its result
        Output,   // a finished output could not be put in its place
        Exists,   // a file of the output's name is in the output folder: the row was not written
    };

    Kind kind = Kind::None;
    std::string file;     // the source or folder concerned
    std::string action;   // what was being done: "convert", "measure", "open", ...
    std::string reason;   // the system's, FFmpeg's or the tool's own words
    std::string message;  // the whole text a person is shown, naming the file and the action

    explicit operator bool() const { return kind != Kind::None; }
};
