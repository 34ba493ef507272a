#include "analysis/ProgressMath.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace progress_math {
namespace {

std::string timeText(const tool_output::ProgressTime& time)
{
    return time.hours + ":" + time.minutes + ":" + time.seconds;
}

}  // namespace

int roundHalfEven(double value)
{
    if (!std::isfinite(value))
        return 0;
    constexpr double lowest = std::numeric_limits<int>::min();
    constexpr double highest = std::numeric_limits<int>::max();
    value = std::clamp(value, lowest, highest);
    double below = std::floor(value);
    double rest = value - below;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(below, 2.0) != 0.0))
        below += 1.0;
    return static_cast<int>(std::min(below, highest));
}

int progressStep(int max, int itemCount)
{
    if (itemCount <= 0)
        return 0;
    return roundHalfEven(max * (1.0 / itemCount));
}

int steppedPosition(int current, int max, int itemCount)
{
    return std::clamp(current + progressStep(max, itemCount), 0, std::max(max, 0));
}

std::int64_t wholeSeconds(std::int64_t durationUs)
{
    return durationUs > 0 ? durationUs / 1000000 : 0;
}

double listFraction(double elapsedSeconds, std::int64_t durationUs, int fileIndex)
{
    std::int64_t d = wholeSeconds(durationUs);
    if (d == 0 || !std::isfinite(elapsedSeconds))
        return fileIndex;
    return std::clamp(elapsedSeconds / static_cast<double>(d), 0.0, 1.0) + fileIndex;
}

int conversionPosition(double elapsedSeconds, std::int64_t durationUs, int fileIndex,
                       int itemCount, int max)
{
    if (itemCount <= 0)
        return 0;
    return listPosition(listFraction(elapsedSeconds, durationUs, fileIndex), itemCount, max);
}

int listPosition(double rowsDone, int itemCount, int max)
{
    if (itemCount <= 0)
        return 0;
    return std::clamp(roundHalfEven(max * rowsDone / itemCount), 0, std::max(max, 0));
}

int neverBack(int current, int proposed) { return std::max(current, proposed); }

std::string processLabel(const tool_output::ProgressTime& time)
{
    return "Process " + timeText(time) + " ......";
}

std::string prepareAudioDataLabel(const tool_output::ProgressTime& time)
{
    return "Prepare Audio Data " + timeText(time) + " ......";
}

std::string fileOfCountText(int fileIndex, int itemCount)
{
    if (itemCount <= 0)
        return std::string();
    const int shown = std::clamp(fileIndex, 0, itemCount - 1) + 1;
    return "File " + std::to_string(shown) + " of " + std::to_string(itemCount);
}

std::string filesAtWorkText(int done, int running, int itemCount)
{
    if (running <= 1 || itemCount <= 0)
        return fileOfCountText(done, itemCount);
    const int first = std::clamp(done, 0, itemCount - 1) + 1;
    const int last = std::clamp(done + running, first, itemCount);
    if (last == first)
        return fileOfCountText(done, itemCount);
    return "Files " + std::to_string(first) + "\u2013" + std::to_string(last) + " of "
           + std::to_string(itemCount);
}

}  // namespace progress_math
