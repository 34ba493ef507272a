// Before any Qt header: Qt defines "emit", a name of LineSplitter's.
#include "analysis/LineSplitter.h"

#include "analysis/MeasureWorker.h"

#include "analysis/StallLimit.h"
#include "analysis/ToolLaunch.h"
#include "analysis/ToolRunMessages.h"
#include "analysis/ToolRunner.h"
#include "conversion/ConversionCommand.h"
#include "conversion/FileIdentity.h"
#include "conversion/ProbeFacts.h"

#include <QProcess>
#include <QTimer>

#include <csignal>
#include <vector>

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

void readLines(QProcess& process, QProcess::ProcessChannel channel, LineSplitter& splitter,
               const LineSplitter::LineHandler& onLine)
{
    process.setReadChannel(channel);
    char buffer[ToolRunner::kReadSize];
    while (process.bytesAvailable() > 0) {
        const qint64 count = process.read(buffer, sizeof buffer);
        if (count <= 0)
            break;
        splitter.feed(std::string_view(buffer, static_cast<std::size_t>(count)), onLine);
    }
}

}  // namespace

MeasureWorker::MeasureWorker(std::string program, QObject* parent, tool_launch::Priority priority)
    : QObject(parent), program_(std::move(program)), priority_(priority), watchdog_(new QTimer(this))
{
    watchdog_->setSingleShot(true);
    connect(watchdog_, &QTimer::timeout, this, &MeasureWorker::stalled);
}

MeasureWorker::~MeasureWorker()
{
    stop();
}

std::optional<MeasureInput> MeasureWorker::sourceInput(const std::string& path, const ProbeFacts& probe,
                                                       std::string& why)
{
    return firstAudio(path, probe, true, why);
}

std::optional<MeasureInput> MeasureWorker::outputInput(const std::string& path, const ProbeFacts& probe,
                                                       std::string& why)
{
    return firstAudio(path, probe, false, why);
}

void MeasureWorker::measure(tool_contracts::MeasureInput input, int stallLimitMs)
{
    busy_ = true;
    stallLimitMs_ = stallLimitMs;
    ++request_;
    file_ = input.source;
    report_ = ToolErrorReport();
    if (std::string why = process_ ? std::string() : start(); !why.empty()) {
        // Told from the event loop, as every other end is.
        QMetaObject::invokeMethod(
            this, [this, request = request_, why] {
                if (busy_ && request == request_)
                    end(MeasureResult{file_, std::nullopt, why});
            },
            Qt::QueuedConnection);
        return;
    }
    const std::string record = tool_contracts::meterRequest(input);
    process_->write(record.data(), static_cast<qint64>(record.size()));
    heardFrom();
}

void MeasureWorker::heardFrom()
{
    if (busy_ && stallLimitMs_ > 0)
        watchdog_->start(stallLimitMs_);
}

void MeasureWorker::stalled()
{
    if (!busy_ || !process_)
        return;
    stop();
    ToolRunResult hung;
    hung.outcome = ToolRunResult::Outcome::Stalled;
    hung.toolPath = program_;
    hung.stalledSeconds = stall_limit::shownSeconds(stallLimitMs_);
    end(MeasureResult{file_, std::nullopt, tool_messages::resultText(hung)});
}

std::string MeasureWorker::start()
{
    // QProcess keeps a pipe open for every start whose exec fails: the file is looked at first.
    if (std::string reason = tool_launch::unrunnableReason(program_); !reason.empty())
        return "cannot start " + program_ + ": " + reason;
    process_ = new QProcess(this);
    tool_launch::prepare(*process_, program_, {}, priority_);
    // Requests go in, answers and messages come back apart.
    process_->setStandardInputFile(QString());
    process_->setProcessChannelMode(QProcess::SeparateChannels);
    process_->start(QIODevice::ReadWrite);
    if (!process_->waitForStarted(-1)) {
        std::string why = "cannot start " + program_ + ": " + tool_launch::startFailureReason(program_, *process_);
        delete process_;
        process_ = nullptr;
        return why;
    }
    pid_ = static_cast<pid_t>(process_->processId());
    answers_ = std::make_unique<LineSplitter>();
    messages_ = std::make_unique<LineSplitter>();
    connect(process_, &QProcess::readyReadStandardOutput, this, &MeasureWorker::readAnswers);
    connect(process_, &QProcess::readyReadStandardError, this, &MeasureWorker::readMessages);
    connect(process_, &QProcess::finished, this, &MeasureWorker::workerEnded);
    return {};
}

std::vector<std::string> MeasureWorker::takeAnswers()
{
    std::vector<std::string> lines;
    heardFrom();
    if (process_)
        readLines(*process_, QProcess::StandardOutput, *answers_, [&](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

void MeasureWorker::readAnswers()
{
    // Told once read: a slot of finished() may ask for the next file at once.
    for (const std::string& line : takeAnswers())
        answered(line);
}

void MeasureWorker::readMessages()
{
    heardFrom();
    if (process_)
        readLines(*process_, QProcess::StandardError, *messages_, [this](std::string_view line) { report_.addLine(line); });
}

void MeasureWorker::answered(std::string_view line)
{
    MeasureResult result{file_, measure_line::parse(line), {}};
    const std::string failed = std::string(tool_contracts::kMeterFailedMarker) + '\t';
    if (!busy_ || (!result.measurement && line.substr(0, failed.size()) != failed)) {
        // Nonsense: the worker cannot be trusted with another file.
        stop();
        if (busy_)
            end(MeasureResult{file_, std::nullopt, program_ + " printed no measurement."});
        return;
    }
    if (!result.measurement)
        result.reason = line.substr(failed.size());
    end(std::move(result));
}

void MeasureWorker::workerEnded()
{
    readMessages();
    const std::vector<std::string> lines = takeAnswers();
    messages_->finish([this](std::string_view line) { report_.addLine(line); });
    const ToolRunResult ran = tool_launch::endedRun(*process_, program_, pid_);
    stop();
    if (!busy_)
        return;
    if (!lines.empty())
        return answered(lines.front());  // an answer that came just before the end is still good
    std::string reason = tool_messages::finishedRunMessage(ran, report_, false);
    end(MeasureResult{file_, std::nullopt,
                      reason.empty() ? program_ + " ended without an answer." : std::move(reason)});
}

void MeasureWorker::cancel()
{
    busy_ = false;
    stop();
}

void MeasureWorker::stop()
{
    watchdog_->stop();
    if (!process_)
        return;
    process_->disconnect(this);
    if (process_->state() != QProcess::NotRunning && ::kill(-pid_, SIGKILL) != 0)
        process_->kill();
    process_->waitForFinished(-1);
    tool_launch::killGroup(pid_);
    process_->close();
    // It may be telling a signal right now.
    process_->deleteLater();
    process_ = nullptr;
    pid_ = 0;
}

void MeasureWorker::end(MeasureResult result)
{
    busy_ = false;
    watchdog_->stop();
    emit finished(result);
}
