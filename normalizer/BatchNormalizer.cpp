#include "normalizer/BatchNormalizer.h"

#include "Decibels.h"
#include "MeasureLine.h"
#include "NormalizerMarkers.h"
#include "normalizer/LimitPlan.h"
#include "normalizer/ParallelFor.h"
#include "normalizer/WavRewriter.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <glob.h>
#include <set>
#include <stdexcept>

namespace {

std::string format(const char* pattern, double a)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, a);
    return text;
}

std::string notAdjusting(const std::string& name, const std::string& reason)
{
    return name + ": " + std::string(normalizer_markers::kNotAdjusting) + " " + reason;
}

std::string adjusting(double gainDb, const std::string& name)
{
    return std::string(normalizer_markers::kAdjusting) + format(" %.2fdB to ", gainDb) + name + "...";
}

}  // namespace

BatchNormalizer::BatchNormalizer(const command_line::Options& options, LineWriter& lines)
    : options_(options), lines_(lines)
{
}

bool BatchNormalizer::expandPatterns()
{
    std::set<std::string> seen;
    for (const std::string& pattern : options_.patterns) {
        glob_t found{};
        int result = ::glob(pattern.c_str(), 0, nullptr, &found);
        if (result != 0 || found.gl_pathc == 0) {
            ::globfree(&found);
            lines_.err("client: no file matches " + pattern);
            return false;
        }
        for (std::size_t i = 0; i < found.gl_pathc; ++i) {
            Item item;
            item.name = found.gl_pathv[i];
            char resolved[PATH_MAX];
            item.path = ::realpath(item.name.c_str(), resolved) ? resolved : item.name;
            if (seen.insert(item.path).second)
                items_.push_back(std::move(item));
        }
        ::globfree(&found);
    }
    return true;
}

std::string BatchNormalizer::levelsText(const gain_rules::Levels& levels) const
{
    return format("%.2f LUFS", levels.loudnessLufs) + format(", true peak %.2f dBTP", decibels::toDb(levels.truePeak));
}

void BatchNormalizer::fail(Item& item, const std::string& reason)
{
    item.failed = true;
    item.analysis.reset();
    lines_.err(notAdjusting(item.name, reason));
}

bool BatchNormalizer::analyse(Item& item)
{
    try {
        item.analysis = file_analysis::analyse(item.path, options_.levels);
        if (item.analysis->report)
            lines_.out(measure_line::formatFile(item.name, *item.analysis->report));
        if (options_.mode != gain_rules::Mode::Album)
            item.analysis->loudnessMeter.reset();  // only -b needs the gating blocks later
        return true;
    } catch (const std::runtime_error& e) {  // WavError, or a signal the meter cannot take
        fail(item, e.what());
    } catch (const std::bad_alloc&) {
        fail(item, "out of memory");
    }
    return false;
}

void BatchNormalizer::finish(Item& item, const gain_rules::Decision& decision)
{
    const gain_rules::Levels& levels = item.analysis->levels;
    const bool measured = levels.status == gain_rules::Status::Measured;
    std::string limited = decision.peakLimited ? ", limited by the true-peak ceiling" : "";
    if (decision.limit)
        limited = ", with its peaks limited";
    if (options_.dryRun && measured) {
        lines_.out(notAdjusting(item.name, "dry run: " + levelsText(levels) +
                                               format(", gain would be %+.2f dB", decision.gainDb) + limited));
    } else if (!decision.apply) {
        std::string reason = decision.reason;
        if (measured)
            reason += " (" + levelsText(levels) + ")";
        lines_.out(notAdjusting(item.name, reason));
    } else {
        try {
            if (decision.limit) {
                const double ceilingDbtp = options_.settings.ceilingDbtp;
                limit_plan::Plan plan =
                    limit_plan::apply(item.path, *item.analysis, levels.loudnessLufs + decision.gainDb, ceilingDbtp);
                lines_.out(adjusting(plan.gainDb, item.name) +
                           format(" peaks limited by up to %.1f dB", -plan.deepestDb));
            } else {
                wav_rewriter::rewrite(item.path, item.analysis->identity, decision.gainDb);
                lines_.out(adjusting(decision.gainDb, item.name));
            }
        } catch (const std::runtime_error& e) {
            fail(item, e.what());
        } catch (const std::bad_alloc&) {
            fail(item, "out of memory");
        }
    }
    item.analysis.reset();
}

int BatchNormalizer::run()
{
    if (!expandPatterns())
        return 2;
    const gain_rules::Mode mode = options_.mode;
    if (mode == gain_rules::Mode::Track) {
        // Each file stands alone: measure and rewrite it at once, while it is still cached.
        parallel::forEach(items_.size(), [&](std::size_t i) {
            Item& item = items_[i];
            if (analyse(item))
                finish(item, gain_rules::decide(mode, {item.analysis->levels}, 0, options_.settings).front());
        });
    } else {
        // Every gain depends on every file: all measurements come first.
        parallel::forEach(items_.size(), [&](std::size_t i) { analyse(items_[i]); });
        std::vector<Item*> measured;
        std::vector<gain_rules::Levels> levels;
        std::vector<const LoudnessMeter*> meters;
        for (Item& item : items_)
            if (item.analysis) {
                measured.push_back(&item);
                levels.push_back(item.analysis->levels);
                if (item.analysis->levels.status == gain_rules::Status::Measured && item.analysis->loudnessMeter)
                    meters.push_back(item.analysis->loudnessMeter.get());
            }
        double joint = mode == gain_rules::Mode::Album ? LoudnessMeter::jointLoudness(meters) : 0.0;
        std::vector<gain_rules::Decision> decisions = gain_rules::decide(mode, levels, joint, options_.settings);
        parallel::forEach(measured.size(), [&](std::size_t i) { finish(*measured[i], decisions[i]); });
    }
    for (const Item& item : items_)
        if (item.failed)
            return 1;
    return 0;
}
