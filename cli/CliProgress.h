#pragma once

#include "job/Job.h"

#include <QElapsedTimer>

#include <functional>
#include <string>
#include <string_view>

// The command line's progress on standard error: a bar redrawn in place when standard error
// is a terminal, else one line per file ended, or nothing at all. Messages go through it, so
// that they never land in the middle of the bar.
class CliProgress {
public:
    enum class Style { None, Lines, Bar };

    CliProgress(Style style, int rows);

    void stageStarted(Job::Stage stage);
    void stageProgress(int percent);
    void rowEnded(std::string_view status, const std::string& source);
    // A message of its own line (or lines), shown whatever the style.
    void message(const std::string& text);
    // Runs `write` with the bar taken away, for output to a terminal the bar may share.
    void aside(const std::function<void()>& write);
    // Takes the bar away.
    void end();

private:
    void draw(bool now);
    void clear();

    Style style_;
    int rows_;
    int ended_ = 0;
    int percent_ = 0;
    std::string stage_;
    bool shown_ = false;
    QElapsedTimer lastDrawn_;
};
