#include "report/LoudnessPlan.h"

#include "Decibels.h"
#include "GainRules.h"
#include "conversion/PeakGain.h"
#include "conversion/ConversionCommand.h"
#include "tools/ToolContracts.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <unordered_map>

namespace loudness_plan {

namespace {

using conversion_command::VolumeMode;

gain_rules::Mode rmsMode(VolumeMode mode)
{
    switch (mode) {
    case VolumeMode::RmsCollectively: return gain_rules::Mode::Album;
    case VolumeMode::RmsWeighted: return gain_rules::Mode::WeightedMean;
    case VolumeMode::RmsArithmetic: return gain_rules::Mode::ArithmeticMean;
    default: return gain_rules::Mode::Track;
    }
}

std::optional<double> finite(double value)
{
    return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

// The figures after a plain gain.
void applyGain(Row& row, const std::optional<Measurement>& m, double gainDb)
{
    row.gainDb = gainDb;
    if (m) {
        row.loudnessAfterLufs = finite(m->integratedLufs + gainDb);
        row.truePeakAfterDbtp = finite(m->truePeakDbtp + gainDb);
    }
}

// The normaliser's run over the WAV copies of the measured files.
void planRms(const Settings& settings, const std::vector<File>& files, Plan& plan)
{
    const gain_rules::Mode mode = rmsMode(settings.mode);
    const gain_rules::Settings rules{settings.targetLufs, plan.ceilingDbtp, settings.limiter};
    std::vector<std::size_t> measured;
    std::vector<gain_rules::Levels> levels;
    BlockHistogram blocks;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::optional<Measurement>& m = files[i].measurement;
        if (!m) {
            plan.rows[i].note = "not measured";
            continue;
        }
        const gain_rules::Levels l{gain_rules::statusOf(m->seconds, m->integratedLufs), m->integratedLufs,
                                   decibels::fromDb(m->truePeakDbtp), m->seconds, files[i].quantisationHeadroom};
        if (l.status == gain_rules::Status::Measured)
            blocks.merge(m->blocks);
        measured.push_back(i);
        levels.push_back(l);
    }
    const double joint = blocks.integratedLoudness();
    std::optional<double> setLoudness;
    if (mode == gain_rules::Mode::Album)
        setLoudness = finite(joint);
    else if (mode == gain_rules::Mode::WeightedMean)
        setLoudness = finite(gain_rules::weightedMeanLufs(levels));
    else if (mode == gain_rules::Mode::ArithmeticMean)
        setLoudness = finite(gain_rules::arithmeticMeanLufs(levels));
    if (setLoudness)
        plan.sets.push_back({{}, *setLoudness});

    const std::vector<gain_rules::Decision> decisions = gain_rules::decide(mode, levels, joint, rules);
    for (std::size_t k = 0; k < measured.size(); ++k) {
        const gain_rules::Decision& d = decisions[k];
        Row& row = plan.rows[measured[k]];
        row.planned = true;
        row.changes = d.apply;
        row.note = d.reason;
        applyGain(row, files[measured[k]].measurement, d.apply ? d.gainDb : 0.0);
        row.peakLimited = d.peakLimited;
        row.limited = d.limit;
        if (d.limit && row.truePeakAfterDbtp)
            row.limitedByDb = *row.truePeakAfterDbtp - decibels::toDb(gain_rules::limiterCeiling(plan.ceilingDbtp, levels[k]));
    }
}

Plan makeGrouped(const Settings& settings, const std::vector<File>& files, const std::vector<std::string>& groups)
{
    std::vector<std::string> order;
    std::unordered_map<std::string, std::vector<std::size_t>> members;
    for (std::size_t i = 0; i < files.size(); ++i) {
        auto [found, added] = members.try_emplace(groups.at(i));
        if (added)
            order.push_back(groups[i]);
        found->second.push_back(i);
    }
    Plan plan = make(settings, {});
    plan.rows.resize(files.size());
    for (const std::string& group : order) {
        const std::vector<std::size_t>& indices = members.at(group);
        std::vector<File> part;
        part.reserve(indices.size());
        for (std::size_t i : indices)
            part.push_back(files[i]);
        Plan made = make(settings, part);
        for (std::size_t k = 0; k < indices.size(); ++k)
            plan.rows[indices[k]] = std::move(made.rows[k]);
        for (const Set& set : made.sets)
            plan.sets.push_back({group, set.loudnessLufs});
    }
    return plan;
}

}  // namespace

double peakModeGainDb(double samplePeakDbfs)
{
    // The converter's level report counts 16-bit steps, the loudest of them full scale, and says
    // -91.0 dB for a file of zeros; the job takes the figure as printed, to one decimal.
    const double steps = std::min(std::nearbyint(decibels::fromDb(samplePeakDbfs) * 32768.0), 32768.0);
    const double reportedDb = steps > 0 ? 20.0 * std::log10(steps / 32768.0) : -91.0;
    char text[32];
    char* end = std::to_chars(text, text + sizeof text, -reportedDb, std::chars_format::fixed, 1).ptr;
    const std::optional<PeakGain> gain = PeakGain::fromText(std::string_view(text, static_cast<std::size_t>(end - text)));
    const std::string applied = gain ? gain->appliedText() : "0";
    double db = 0;
    std::from_chars(applied.data(), applied.data() + applied.size(), db);
    return db;
}

double copyHeadroom(const ProbeFacts& source)
{
    const int index = source.firstAudioStreamIndex;
    if (index < 0 || index >= static_cast<int>(source.streams.size()))
        return 0;
    const std::string pcm = conversion_command::wavCopyEncoder(source.streams[static_cast<std::size_t>(index)]);
    const int bits = pcm == "pcm_s16le" ? 16 : pcm == "pcm_s24le" ? 24 : pcm == "pcm_s32le" ? 32 : 0;
    return gain_rules::quantisationHeadroom(bits);
}

Plan make(const Settings& settings, const std::vector<File>& files, const std::vector<std::string>& groups)
{
    if (!groups.empty())
        return makeGrouped(settings, files, groups);
    Plan plan;
    plan.rows.resize(files.size());
    plan.ceilingDbtp = settings.ceilingDbtp - (settings.lossyOutput ? tool_contracts::kLossyMarginDb : 0.0);
    if (conversion_command::isRmsMode(settings.mode)) {
        planRms(settings, files, plan);
    } else {
        for (std::size_t i = 0; i < files.size(); ++i) {
            Row& row = plan.rows[i];
            const std::optional<Measurement>& m = files[i].measurement;
            if (settings.mode == VolumeMode::PeakTrackGain && !m) {
                row.note = "not measured";
                continue;
            }
            const double gain = settings.mode == VolumeMode::PeakTrackGain  ? peakModeGainDb(m->samplePeakDbfs)
                                : settings.mode == VolumeMode::ChangeGain ? settings.gainDb
                                                                          : decibels::toDb(settings.percent / 100.0);
            row.planned = true;
            row.changes = gain != 0;
            applyGain(row, m, gain);
        }
    }
    for (std::size_t i = 0; i < files.size(); ++i)
        plan.rows[i].downmixCorrectionDb = files[i].downmixCorrectionDb;
    return plan;
}

}  // namespace loudness_plan
