// Before any Qt header: Qt defines "emit", a name of LineSplitter's.
#include "analysis/LineSplitter.h"

#include "analysis/MeasureProcess.h"

#include "analysis/ToolLaunch.h"
#include "analysis/ToolOutputParsers.h"
#include "analysis/ToolRunMessages.h"
#include "analysis/ToolRunner.h"
#include "conversion/FileIdentity.h"
#include "conversion/ProbeFacts.h"
#include "conversion/ConversionCommand.h"

#include <QProcess>

#include <csignal>

namespace {

using tool_contracts::MeasureInput;
using tool_contracts::RawSamples;

std::optional<MeasureInput> firstAudio(const std::string& path, const ProbeFacts& probe, bool asCopy,
                                       std::string& why)
{
    const int index = probe.firstAudioStreamIndex;
    if (index < 0 || index >= static_cast<int>(probe.streams.size())) {
        why = "it has no audio stream";
        return std::nullopt;
    }
    const TStreamFacts& s = probe.streams[static_cast<std::size_t>(index)];
    if (s.Channels <= 0 || s.SampleRate <= 0) {
        why = "the channels or the sample rate of its audio are unknown";
        return std::nullopt;
    }
    MeasureInput input;
    input.source = file_identity::absolutePath(path);
    input.channels = s.Channels;
    input.sampleRate = s.SampleRate;
    // The positions a WAV file can name, as the converter writes them into a copy.
    input.channelMask = static_cast<std::uint32_t>(s.ChannelMask);
    input.samples = asCopy && conversion_command::wavCopyEncoder(s) == "pcm_s16le" ? RawSamples::S16 : RawSamples::F32;
    return input;
}

void readLines(QProcess& process, LineSplitter& splitter, const LineSplitter::LineHandler& onLine)
{
    char buffer[ToolRunner::kReadSize];
    while (process.bytesAvailable() > 0) {
        const qint64 count = process.read(buffer, sizeof buffer);
        if (count <= 0)
            break;
        splitter.feed(std::string_view(buffer, static_cast<std::size_t>(count)), onLine);
    }
}

}  // namespace

std::string MeasureResult::message() const
{
    return measurement ? std::string() : "Cannot measure " + file + ": " + reason;
}

MeasureProcess::MeasureProcess(std::string converter, std::string normaliser, tool_contracts::MeasureInput input,
                               QObject* parent)
    : QObject(parent),
      converter_(std::move(converter)),
      normaliser_(std::move(normaliser)),
      input_(std::move(input)),
      decoderLines_(std::make_unique<LineSplitter>()),
      meterLines_(std::make_unique<LineSplitter>())
{
}

MeasureProcess::~MeasureProcess()
{
    cancel();
}

std::optional<MeasureInput> MeasureProcess::sourceInput(const std::string& path, const ProbeFacts& probe,
                                                        std::string& why)
{
    return firstAudio(path, probe, true, why);
}

std::optional<MeasureInput> MeasureProcess::outputInput(const std::string& path, const ProbeFacts& probe,
                                                        std::string& why)
{
    return firstAudio(path, probe, false, why);
}

MeasureResult MeasureProcess::failure(std::string reason) const
{
    return MeasureResult{input_.source, std::nullopt, std::move(reason)};
}

std::optional<MeasureResult> MeasureProcess::start()
{
    // QProcess keeps one pipe open for every start whose exec fails: both tools are looked at
    // before anything is opened.
    for (const std::string& tool : {converter_, normaliser_})
        if (std::string reason = tool_launch::unrunnableReason(tool); !reason.empty())
            return failure("cannot start " + tool + ": " + reason);

    decoder_ = new QProcess(this);
    meter_ = new QProcess(this);
    tool_launch::prepare(*meter_, normaliser_, tool_contracts::measureArgs(input_));
    tool_launch::prepare(*decoder_, converter_, tool_contracts::measureDecodeArgs(input_));
    // The samples go to the meter; the converter's messages and progress stay with us.
    decoder_->setProcessChannelMode(QProcess::SeparateChannels);
    decoder_->setStandardOutputProcess(meter_);
    decoder_->start(QIODevice::ReadOnly);
    const bool decoderStarted = decoder_->waitForStarted(-1);
    if (decoderStarted)
        meter_->start(QIODevice::ReadOnly);
    if (!decoderStarted || !meter_->waitForStarted(-1)) {
        QProcess& failed = decoderStarted ? *meter_ : *decoder_;
        const std::string& tool = decoderStarted ? normaliser_ : converter_;
        MeasureResult result = failure("cannot start " + tool + ": " + tool_launch::startFailureReason(tool, failed));
        if (decoderStarted) {
            ::kill(-static_cast<pid_t>(decoder_->processId()), SIGKILL);
            decoder_->waitForFinished(-1);
        }
        delete decoder_;
        delete meter_;
        decoder_ = meter_ = nullptr;
        return result;
    }
    decoderPid_ = static_cast<pid_t>(decoder_->processId());
    meterPid_ = static_cast<pid_t>(meter_->processId());
    running_ = true;
    connect(decoder_, &QProcess::readyReadStandardError, this, &MeasureProcess::readDecoder);
    connect(meter_, &QProcess::readyRead, this, &MeasureProcess::readMeter);
    connect(decoder_, &QProcess::finished, this, &MeasureProcess::toolEnded);
    connect(meter_, &QProcess::finished, this, &MeasureProcess::toolEnded);
    return std::nullopt;
}

void MeasureProcess::cancel()
{
    if (!running_)
        return;
    running_ = false;
    for (auto [process, pid] : {std::pair{decoder_, decoderPid_}, std::pair{meter_, meterPid_}}) {
        process->disconnect(this);
        if (process->state() != QProcess::NotRunning && ::kill(-pid, SIGKILL) != 0)
            process->kill();
        process->waitForFinished(-1);
        tool_launch::killGroup(pid);
    }
}

void MeasureProcess::readDecoder()
{
    decoder_->setReadChannel(QProcess::StandardError);
    readLines(*decoder_, *decoderLines_, [this](std::string_view line) {
        if (const auto time = tool_output::parseProgress(line))
            emit progress(time->elapsedSeconds);
        else
            decoderReport_.addLine(line);
    });
}

void MeasureProcess::readMeter()
{
    readLines(*meter_, *meterLines_, [this](std::string_view line) {
        if (line.substr(0, tool_contracts::kMeasuredMarker.size()) == tool_contracts::kMeasuredMarker)
            resultLine_ = line;
        else
            meterReport_.addLine(line);
    });
}

void MeasureProcess::toolEnded()
{
    if (!running_ || decoder_->state() != QProcess::NotRunning || meter_->state() != QProcess::NotRunning)
        return;
    readDecoder();
    readMeter();
    running_ = false;
    tool_launch::killGroup(decoderPid_);
    tool_launch::killGroup(meterPid_);
    decoderLines_->finish([this](std::string_view line) { decoderReport_.addLine(line); });
    meterLines_->finish([this](std::string_view line) { meterReport_.addLine(line); });

    const ToolRunResult decoded = tool_launch::endedRun(*decoder_, converter_, decoderPid_);
    const ToolRunResult metered = tool_launch::endedRun(*meter_, normaliser_, meterPid_);
    // A meter that failed is the cause of the converter's broken pipe, not its effect.
    MeasureResult result = failure({});
    if (!metered.succeeded())
        result.reason = tool_messages::finishedRunMessage(metered, meterReport_, false);
    else if (!decoded.succeeded())
        result.reason = tool_messages::finishedRunMessage(decoded, decoderReport_, false);
    else if (!(result.measurement = measure_line::parse(resultLine_)))
        result.reason = normaliser_ + " printed no measurement.";
    emit finished(result);
}
