// What each per-row stage of a job does with one row: its preparation (folders, probe, the
// tool's arguments), what it reads in the tool's output, and what it keeps or removes after
// the run.
#include "job/Job.h"

#include "analysis/ProgressMath.h"
#include "analysis/StageRules.h"
#include "analysis/ToolOutputParsers.h"
#include "analysis/ToolProcess.h"
#include "base/SetGroups.h"
#include "conversion/ContainerTable.h"
#include "conversion/ExistingOutputs.h"
#include "conversion/FileIdentity.h"
#include "conversion/OutputFiles.h"
#include "conversion/OutputNames.h"
#include "conversion/ProbeFacts.h"
#include "job/JobRowRun.h"
#include "job/JobState.h"
#include "job/SourceProbe.h"
#include "tools/ToolContracts.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>
#include <utility>

#include <sys/stat.h>

namespace {

using conversion_command::VolumeMode;

constexpr int kBarMaximum = 100;

bool makeFolder(const std::string& folder, std::error_code& ec)
{
    std::filesystem::create_directories(folder, ec);
    return !ec && std::filesystem::is_directory(folder, ec);
}

// Why nothing can be written into the output folder (gone since it was chosen, or a file), or
// "" when it is a folder. Checked before every file, so that one missing folder stops the job
// with one message instead of failing every file on its own.
std::string outputFolderProblem(const std::string& folder)
{
    struct stat entry {};
    if (::stat(folder.c_str(), &entry) != 0)
        return std::strerror(errno);
    if (!S_ISDIR(entry.st_mode))
        return std::strerror(ENOTDIR);
    return {};
}

tool_contracts::NormalizerMode normalizerModeOf(VolumeMode mode)
{
    switch (mode) {
    case VolumeMode::RmsCollectively:
        return tool_contracts::NormalizerMode::Collectively;
    case VolumeMode::RmsWeighted:
        return tool_contracts::NormalizerMode::WeightedAverage;
    case VolumeMode::RmsArithmetic:
        return tool_contracts::NormalizerMode::ArithmeticAverage;
    default:
        return tool_contracts::NormalizerMode::Singularly;
    }
}

const char* actionOf(Job::Stage stage)
{
    switch (stage) {
    case Job::Stage::PeakMeasurement:
        return "measure";
    case Job::Stage::WavExtraction:
        return "extract";
    case Job::Stage::Normalisation:
        return "normalise";
    case Job::Stage::Check:
        return "check";
    case Job::Stage::Conversion:
        break;
    }
    return "convert";
}

}  // namespace

void Job::failRow(int row, RowState state, JobError error, bool endsJob, bool closesStage)
{
    state_->finishRow(row, state, std::move(error), endsJob, closesStage);
}

std::optional<Job::Command> Job::prepare(int row)
{
    switch (stage_) {
    case Stage::PeakMeasurement: {
        JobRow& record = state_->row(row);
        record.gain.reset();
        Command command{settings_.converter, tool_contracts::peakMeasurementArgs(state_->sources()[row])};
        // Streams the format mixes down are measured in the same run, before and after the
        // downmix; a source that cannot be opened is measured for its peak alone.
        std::string unused;
        record.probed = source_probe::probe(probe_, state_->sources()[row], record.facts, unused);
        if (record.probed) {
            const std::vector<std::string> measure = conversion_command::downmixMeasurement(conversionRequest(row));
            command.arguments.insert(command.arguments.end(), measure.begin(), measure.end());
        }
        return command;
    }
    case Stage::WavExtraction:
        return prepareExtraction(row);
    case Stage::Conversion:
        return prepareConversion(row);
    case Stage::Normalisation:
    case Stage::Check:
        break;
    }
    return std::nullopt;
}

bool Job::probe(int row)
{
    const std::string& source = state_->sources()[row];
    std::string reason;
    JobRow& record = state_->row(row);
    record.probed = source_probe::probe(probe_, source, record.facts, reason);
    if (record.probed)
        return true;
    failRow(row, RowState::Failed, {JobError::Kind::Source, source, "open", reason, "File load error: " + reason},
            true);
    return false;
}

std::optional<Job::Command> Job::prepareExtraction(int row)
{
    JobRow& record = state_->row(row);
    // After the measurement of its downmix the row is extracted (nextRun).
    const bool measured = std::exchange(record.measuredFirst, false);
    const std::string& source = state_->sources()[row];
    if (!measured) {
        std::error_code ec;
        for (const auto& [folder, message] :
             {std::pair{settings_.outputFolder, "Create the target folder error!"},
              std::pair{settings_.scratchFolder, "Create the tmp folder error!"}})
            if (!makeFolder(folder, ec)) {
                failRow(row, RowState::Failed, {JobError::Kind::Folder, folder, "create", ec.message(), message}, true);
                return std::nullopt;
            }
        if (!probe(row))
            return std::nullopt;
        record.output = conversion_command::wavCopyPath(settings_.scratchFolder, row);
    }
    const conversion_command::ConversionRequest request = conversionRequest(row);
    const std::vector<std::string> measure = conversion_command::downmixMeasurement(request);
    // The copy is what the normaliser limits, so a stream the format mixes down is mixed down
    // in it, which needs the downmix's loudness measured first.
    const std::optional<std::string> downmix = conversion_command::copyDownmix(request);
    if (!downmix && !measured) {
        record.measuring = true;
        std::vector<std::string> arguments{"-i", file_identity::absolutePath(source)};
        arguments.insert(arguments.end(), measure.begin(), measure.end());
        return Command{settings_.converter, std::move(arguments)};
    }
    if (!downmix) {
        const std::string reason = "the loudness of its downmix could not be measured";
        const bool endsJob = stage_rules::stepAfter(stage_rules::RunVerdict::Kind::Failed, row >= rowCount() - 1)
                             == stage_rules::StageStep::EndJob;
        failRow(row, RowState::Failed, {JobError::Kind::Tool, source, "extract", reason, source + ":\n" + reason},
                endsJob, endsJob);
        return std::nullopt;
    }
    record.copyMixedDown = !downmix->empty();
    record.copyLevels.reset();
    Command command{settings_.converter,
                    conversion_command::wavExtractionArgs(source, record.output, record.facts, *downmix)};
    // Other streams the format mixes down are measured in the same run, before and after it.
    command.arguments.insert(command.arguments.end(), measure.begin(), measure.end());
    return command;
}

conversion_command::ConversionRequest Job::conversionRequest(int row) const
{
    const JobRow& record = state_->row(row);
    conversion_command::ConversionRequest request;
    request.mode = settings_.mode;
    request.sourcePath = state_->sources()[row];
    request.fileIndex = row;
    request.peakGain = record.gain;
    request.percent = settings_.percent;
    request.gainText = settings_.gain;
    // A tagged copy is its source's streams in its source's container.
    request.formatConverting = settings_.formatConverting && !tagsOnly();
    request.formatText = settings_.format;
    request.prefix = settings_.prefix;
    request.outputFolder = settings_.outputFolder;
    request.scratchFolder = settings_.scratchFolder;
    request.probe = record.facts;
    request.guarded = &state_->takenNames();
    request.downmixGains = record.downmixGains;
    const auto index = static_cast<std::size_t>(row);
    request.unchanged = tagsOnly() || (index < settings_.leaveUnchanged.size() && settings_.leaveUnchanged[index]);
    request.tagsOnly = tagsOnly();
    if (tagsOnly() && index < settings_.loudnessTags.size())
        request.tagLevels = settings_.loudnessTags[index];
    return request;
}

std::optional<Job::Command> Job::prepareConversion(int row)
{
    JobRow& record = state_->row(row);
    record.command.reset();
    // After its own measurement run the row is converted under the name it was given then.
    const bool measured = std::exchange(record.measuredFirst, false);
    const std::string& folder = settings_.outputFolder;
    if (!measured) {
        if (const std::string problem = outputFolderProblem(folder); !problem.empty()) {
            failRow(row, RowState::Failed,
                    {JobError::Kind::Folder, folder, "write into", problem, "Cannot write into " + folder + ": " + problem},
                    true);
            return std::nullopt;
        }
        if (!probe(row))
            return std::nullopt;
    }

    const std::string& source = state_->sources()[row];
    conversion_command::ConversionRequest request = conversionRequest(row);
    if (measured)
        request.outputFile = record.output;
    // Rows are prepared in row order, so names follow the list whichever run ends first.
    conversion_command::ConversionResult built = conversion_command::buildConversion(request);
    if (built.command && !built.command->measurement.empty() && measured)
        built = {std::nullopt, "Cannot convert " + built.command->sourceFile
                                   + ": the loudness of its downmix could not be measured"};
    if (!built.command) {
        // A refused last row ends the job as a failed last file does: no "Process is finished!".
        const bool last = row >= rowCount() - 1;
        const std::string lead = "Cannot convert " + source + ": ";
        const std::string reason = built.refusal.rfind(lead, 0) == 0 ? built.refusal.substr(lead.size()) : built.refusal;
        failRow(row, RowState::Refused, {JobError::Kind::Refused, source, "convert", reason, built.refusal}, last,
                last);
        return std::nullopt;
    }
    if (!measured) {
        if (!settleExisting(row, request, built))
            return std::nullopt;
        record.output = built.command->outputFile;
        state_->planOutput(record.output);
    }
    // The format mixes a stream down: its loudness is measured first, then the row is built
    // again with the gains found (nextRun).
    if (!built.command->measurement.empty())
        return Command{settings_.converter, built.command->measurement};
    record.command = std::move(built.command);
    return Command{settings_.converter, record.command->args};
}

std::vector<existing_outputs::Clash> Job::clashes(const JobSettings& settings)
{
    // A tagged copy keeps its source's container, as conversionRequest() says.
    const bool converting = settings.formatConverting && settings.writing != JobSettings::Writing::TagsOnly;
    return existing_outputs::clashes(settings.sources, settings.outputFolder, settings.prefix, converting,
                                     settings.format);
}

bool Job::settleExisting(int row, conversion_command::ConversionRequest& request,
                         conversion_command::ConversionResult& built)
{
    using existing_outputs::Choice;
    const std::string output = built.command->outputFile;
    // Names the job itself chose are guarded already: a name the folder holds is another file.
    if (settings_.existing == Choice::Replace || !existingNames_.count(output_names::fileNameOf(output)))
        return true;
    const std::string& source = state_->sources()[row];
    if (settings_.existing == Choice::KeepBoth) {
        request.outputFile = existing_outputs::keepBothName(output, existingNames_, state_->takenNames());
        if (!request.outputFile.empty()) {
            built = conversion_command::buildConversion(request);
            if (built.command)
                return true;
        }
    }
    const bool skip = settings_.existing == Choice::Skip;
    const std::string reason = output + " exists";
    const std::string message = skip ? "Skipped " + source + ": " + reason + " and was left as it is"
                                     : "Cannot convert " + source + ": " + reason + "; it was left as it is";
    failRow(row, skip ? RowState::Skipped : RowState::Refused, {JobError::Kind::Exists, output, "write", reason, message},
            false);
    return false;
}

std::optional<Job::Command> Job::nextRun(int row)
{
    // A row whose downmix was measured first: now its extraction or conversion.
    if (!state_->row(row).measuredFirst)
        return std::nullopt;
    if (stage_ == Stage::WavExtraction)
        return prepareExtraction(row);
    if (stage_ == Stage::Conversion)
        return prepareConversion(row);
    return std::nullopt;
}

void Job::handleLine(int row, RowRun& run, std::string_view line)
{
    run.report.addLine(line);
    tool_output::readLoudnessLine(line, run.loudness);
    if (stage_ == Stage::PeakMeasurement) {
        if (tool_output::isMaxVolumeLine(line)) {
            run.markerSeen = true;
            // The last report of a run wins; a silent file ("-inf") gets no gain at all.
            const std::optional<std::string> gain = tool_output::peakGainText(line);
            run.gain = gain ? PeakGain::fromText(*gain) : std::nullopt;
            percent_ = progress_math::steppedPosition(percent_, kBarMaximum, rowCount());
        }
        status_ = "Analyze data......";
        return progress(row);
    }
    if (!tool_output::isProgressLine(line))
        return;
    run.markerSeen = true;
    const std::optional<tool_output::ProgressTime> time = tool_output::parseProgress(line);
    if (!time)
        return;  // "N/A" or an odd line: nothing to show, the run goes on
    state_->setFraction(row, progress_math::listFraction(time->elapsedSeconds, state_->row(row).facts.durationUs, 0));
    percent_ = progress_math::neverBack(
        percent_, progress_math::listPosition(state_->listFraction(), rowCount(), kBarMaximum));
    status_ = stage_ == Stage::Conversion ? progress_math::processLabel(*time)
                                          : progress_math::prepareAudioDataLabel(*time);
    progress(row);
}

stage_rules::RunVerdict Job::judge(int row, RowRun& run, const ToolRunResult& result)
{
    using Kind = stage_rules::RunVerdict::Kind;
    stage_rules::RunVerdict verdict = stage_rules::judgeRun(result, run.report, run.markerSeen);
    JobRow& record = state_->row(row);
    JobError::Kind failure = JobError::Kind::Tool;
    const bool done = verdict.kind == Kind::Done;
    // The measuring runs: the peak run, the extraction and a run before the conversion. Peak
    // mode promises no sample above full scale, in a downmix too (no gain: a silent file, 0 dB).
    if (done && (stage_ != Stage::Conversion || !record.command)) {
        const std::optional<PeakGain>& peak = stage_ == Stage::PeakMeasurement ? run.gain : record.gain;
        const std::optional<double> peakGainDb = settings_.mode == conversion_command::VolumeMode::PeakTrackGain
                                                     ? std::optional(peak ? peak->db : 0.0)
                                                     : std::nullopt;
        // Kept over the row's later runs: an extraction after its measurement measures nothing.
        for (const auto& [stream, gain] :
             conversion_command::downmixGains(run.loudness.integrated, run.loudness.samplePeak, peakGainDb))
            record.downmixGains[stream] = gain;
    }
    switch (stage_) {
    case Stage::PeakMeasurement:
        record.gain = done ? run.gain : std::nullopt;
        break;
    case Stage::WavExtraction:
        if (std::exchange(record.measuring, false)) {
            // The measurement before the extraction: the extraction follows (nextRun).
            record.measuredFirst = done;
            break;
        }
        if (done) {
            // The copy holds the first audio stream alone: the source's length is its audio's
            // only when it has no other stream but covers.
            const std::vector<TStreamFacts>& streams = record.facts.streams;
            const bool audioOnly = record.facts.firstAudioStreamIndex >= 0
                                   && std::count_if(streams.begin(), streams.end(),
                                                    [](const TStreamFacts& s) { return !s.Picture; }) == 1;
            if (std::string early = endedEarly(row, record.output, audioOnly); !early.empty())
                verdict = {Kind::Failed, std::move(early)};
        }
        // Only a finished copy is kept.
        if (verdict.kind != Kind::Done)
            std::remove(record.output.c_str());
        break;
    case Stage::Conversion:
        if (!record.command) {
            // The measurement before the conversion: the conversion follows (nextRun).
            record.measuredFirst = done;
            break;
        }
        if (std::string early = done ? endedEarly(row, record.command->writePath, record.command->note.empty())
                                     : std::string();
            !early.empty()) {
            output_files::discardOutput(*record.command);
            verdict = {Kind::Failed, std::move(early)};
            failure = JobError::Kind::Output;
        } else if (done) {
            const output_files::StepResult committed = output_files::commitOutput(
                *record.command, state_->sourceNames(), settings_.existing == existing_outputs::Choice::Replace);
            if (!committed.ok) {
                verdict = {Kind::Failed, committed.error};
                failure = JobError::Kind::Output;
            } else {
                record.note = record.command->note;
                if (record.peakUnmeasured)
                    record.note += std::string(record.note.empty() ? "" : "\n")
                                   + "Its peak could not be measured: converted without a level change";
            }
        } else {
            output_files::discardOutput(*record.command);
        }
        record.command.reset();
        break;
    case Stage::Normalisation:
    case Stage::Check:
        break;
    }
    if (verdict.kind == Kind::Done)
        return verdict;

    const std::string& source = state_->sources()[row];
    std::string message = verdict.message;
    // The converter names what it wrote (a WAV copy, a hidden temporary file); the user knows
    // the file by its source.
    if (stage_ != Stage::PeakMeasurement && verdict.kind == Kind::Failed && !message.empty())
        message = source + ":\n" + message;
    run.error = {failure, source, actionOf(stage_), verdict.message, std::move(message)};
    return verdict;
}

std::string Job::endedEarly(int row, const std::string& written, bool streamsKept)
{
    const ProbeFacts& source = state_->row(row).facts;
    // A stream left out may have been the longest one, and a length guessed from the bit rate
    // proves nothing.
    if (!streamsKept || source.durationGuessed)
        return {};
    ProbeFacts facts;
    std::string unused;
    if (!source_probe::probe(probe_, written, facts, unused) || facts.durationGuessed
        || !stage_rules::endsEarly(source.durationUs, facts.durationUs))
        return {};
    char text[160];
    std::snprintf(text, sizeof text, "the converter stopped early: what it wrote lasts %.2f s of the source's %.2f s",
                  static_cast<double>(facts.durationUs) / 1e6, static_cast<double>(source.durationUs) / 1e6);
    return text;
}

void Job::discard(int row)
{
    JobRow& record = state_->row(row);
    if (stage_ == Stage::WavExtraction) {
        std::remove(record.output.c_str());
    } else if ((stage_ == Stage::Conversion || stage_ == Stage::Check) && record.command) {
        output_files::discardOutput(*record.command);
        record.command.reset();
    }
}

std::vector<std::vector<std::string>> Job::normaliserRuns() const
{
    tool_contracts::NormalizerLevels levels;
    levels.target = {"", settings_.targetLufs, settings_.ceilingDbtp};
    levels.limitPeaks = settings_.limiter;
    // One ceiling for all copies: if any output is lossy, every copy gets the margin.
    for (const std::string& source : settings_.sources)
        levels.lossyOutput = levels.lossyOutput
                             || container_table::isLossyExtension(output_names::outputExtension(
                                 source, settings_.formatConverting, settings_.format));
    const tool_contracts::NormalizerMode mode = normalizerModeOf(settings_.mode);
    std::vector<std::vector<std::string>> runs;
    if (!settings_.groupByFolder || mode == tool_contracts::NormalizerMode::Singularly) {
        runs.push_back(tool_contracts::normalizerArgs(mode, levels, settings_.scratchFolder));
    } else {
        // The copies of the rows that made one, by folder, in the order of the list.
        std::vector<std::string_view> order;
        std::map<std::string_view, std::vector<std::string>> copies;
        for (int row = 0; row < rowCount(); ++row) {
            if (state_->row(row).state != RowState::Done)
                continue;
            const std::string_view group = set_groups::groupOf(state_->sources()[row], true);
            std::vector<std::string>& set = copies[group];
            if (set.empty())
                order.push_back(group);
            set.push_back(conversion_command::wavCopyPath(settings_.scratchFolder, row));
        }
        for (std::string_view group : order)
            runs.push_back(tool_contracts::normalizerSetArgs(mode, levels, copies.at(group)));
    }
    // Its figures of each copy are those of the source: the check takes them rather than
    // measuring the source again.
    for (std::vector<std::string>& arguments : runs)
        arguments.insert(arguments.begin(), "--levels");
    return runs;
}
