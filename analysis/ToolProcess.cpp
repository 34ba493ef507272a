// Before any Qt header: Qt defines "emit", a name of LineSplitter's.
#include "analysis/LineSplitter.h"

#include "analysis/ToolProcess.h"

#include "analysis/StallLimit.h"
#include "analysis/ToolLaunch.h"
#include "analysis/ToolRunner.h"

#include <QProcess>
#include <QTimer>

#include <csignal>

ToolProcess::ToolProcess(std::string toolPath, std::vector<std::string> arguments,
                         LineHandler onLine, FinishHandler onFinish, QObject* parent)
    : QObject(parent),
      toolPath_(std::move(toolPath)),
      arguments_(std::move(arguments)),
      onLine_(std::move(onLine)),
      onFinish_(std::move(onFinish)),
      splitter_(std::make_unique<LineSplitter>())
{
}

ToolProcess::~ToolProcess()
{
    cancel();
}

std::optional<ToolRunResult> ToolProcess::start()
{
    ToolRunResult failure;
    failure.toolPath = toolPath_;
    failure.outcome = ToolRunResult::Outcome::StartFailed;
    // QProcess keeps one pipe open for every start whose exec fails, so a tool that is missing
    // or not executable is found out before anything is opened.
    if (std::string reason = tool_launch::unrunnableReason(toolPath_); !reason.empty()) {
        failure.startError = std::move(reason);
        return failure;
    }
    process_ = new QProcess(this);
    tool_launch::prepare(*process_, toolPath_, arguments_);
    process_->start(QIODevice::ReadOnly);
    if (!process_->waitForStarted(-1)) {
        failure.startError = tool_launch::startFailureReason(toolPath_, *process_);
        delete process_;
        process_ = nullptr;
        return failure;
    }
    pid_ = static_cast<pid_t>(process_->processId());
    running_ = true;
    connect(process_, &QProcess::readyRead, this, &ToolProcess::readOutput);
    connect(process_, &QProcess::finished, this, &ToolProcess::finished);
    if (stallLimitMs_ > 0) {
        watchdog_ = new QTimer(this);
        watchdog_->setSingleShot(true);
        watchdog_->setInterval(stallLimitMs_);
        connect(watchdog_, &QTimer::timeout, this, &ToolProcess::stalled);
        watchdog_->start();
    }
    return std::nullopt;
}

void ToolProcess::cancel()
{
    if (!running_)
        return;
    running_ = false;
    if (watchdog_)
        watchdog_->stop();
    process_->disconnect(this);
    if (::kill(-pid_, SIGKILL) != 0)
        process_->kill();
    process_->waitForFinished(-1);
}

void ToolProcess::readOutput()
{
    char buffer[ToolRunner::kReadSize];
    while (running_ && process_->bytesAvailable() > 0) {
        const qint64 count = process_->read(buffer, sizeof buffer);
        if (count <= 0)
            break;
        if (watchdog_)
            watchdog_->start();
        splitter_->feed(std::string_view(buffer, static_cast<std::size_t>(count)), onLine_);
    }
}

void ToolProcess::finished()
{
    readOutput();
    if (!running_)
        return;  // cancelled by a line handler
    running_ = false;
    if (watchdog_)
        watchdog_->stop();
    splitter_->finish(onLine_);
    tool_launch::killGroup(pid_);
    onFinish_(tool_launch::endedRun(*process_, toolPath_, pid_));
}

void ToolProcess::stalled()
{
    if (!running_)
        return;
    // Output that came with the timeout is a sign of life (and starts the watchdog again).
    if (process_->bytesAvailable() > 0)
        return readOutput();
    cancel();  // the whole group goes and is reaped
    splitter_->finish(onLine_);
    ToolRunResult result;
    result.outcome = ToolRunResult::Outcome::Stalled;
    result.toolPath = toolPath_;
    result.pid = pid_;
    result.stalledSeconds = stall_limit::shownSeconds(stallLimitMs_);
    tool_launch::killGroup(pid_);
    onFinish_(result);
}
