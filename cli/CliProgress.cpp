#include "cli/CliProgress.h"

#include <array>
#include <cstdio>

namespace {

// Redrawn at most this often: the bar must cost next to nothing beside the tools.
constexpr qint64 kRedrawMs = 100;
constexpr int kBarWidth = 30;

void writeError(std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stderr);
}

}  // namespace

CliProgress::CliProgress(Style style, int rows) : style_(style), rows_(rows) {}

void CliProgress::stageStarted(Job::Stage stage)
{
    stage_ = std::array{"measure", "extract", "normalise", "convert", "check"}.at(static_cast<std::size_t>(stage));
    percent_ = 0;
    draw(true);
}

void CliProgress::stageProgress(int percent)
{
    if (percent == percent_)
        return;
    percent_ = percent;
    draw(false);
}

void CliProgress::rowEnded(std::string_view status, const std::string& source)
{
    ++ended_;
    if (style_ == Style::Lines) {
        // Appended piece by piece: a chain of "+" on short literals draws a false -Wrestrict
        // from GCC 12's optimiser.
        std::string line = "[";
        line += std::to_string(ended_);
        line += '/';
        line += std::to_string(rows_);
        line += "] ";
        line += status;
        line += ' ';
        line += source;
        line += '\n';
        writeError(line);
    }
    draw(true);
}

void CliProgress::message(const std::string& text)
{
    aside([&text] { writeError("auralon-cli: " + text + "\n"); });
}

void CliProgress::aside(const std::function<void()>& write)
{
    const bool shown = shown_;
    clear();
    write();
    if (shown)
        draw(true);
}

void CliProgress::end()
{
    clear();
}

void CliProgress::draw(bool now)
{
    if (style_ != Style::Bar || stage_.empty())
        return;
    if (!now && lastDrawn_.isValid() && lastDrawn_.elapsed() < kRedrawMs)
        return;
    lastDrawn_.start();
    const int filled = percent_ * kBarWidth / 100;
    // Carriage return and erase to the end of the line: the bar stays on one line.
    writeError("\r\033[K" + stage_ + std::string(10 - stage_.size(), ' ') + "[" + std::string(filled, '#')
               + std::string(kBarWidth - filled, '-') + "] " + std::to_string(percent_) + " %  "
               + std::to_string(ended_) + "/" + std::to_string(rows_) + " files");
    shown_ = true;
}

void CliProgress::clear()
{
    if (!shown_)
        return;
    writeError("\r\033[K");
    shown_ = false;
}
