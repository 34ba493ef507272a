#pragma once

#include "analysis/MeasureResult.h"
#include "analysis/ToolErrorReport.h"
#include "analysis/ToolLaunch.h"
#include "tools/ToolContracts.h"

#include <QObject>

#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

class LineSplitter;
class QProcess;
class QTimer;
struct ProbeFacts;

// The loudness of files' audio, measured out of the program's process by the measuring worker
// (see tool_contracts::meterRequest), which stays alive between files, so that a measuring
// costs no start of a program. One file at a time; the worker starts from an argument vector,
// leads a process group of its own and is never waited for but on cancel. A worker that dies
// or answers nonsense fails only the file it was measuring; the next file starts a fresh one.
// So does one that says nothing for a measuring's stall limit: it is taken for hung and killed.
class MeasureWorker : public QObject {
    Q_OBJECT
public:
    // A worker of low priority measures in the time that other work leaves (see tool_launch).
    explicit MeasureWorker(std::string program, QObject* parent = nullptr,
                           tool_launch::Priority priority = tool_launch::Priority::Normal);
    // The worker is killed and waited for. From a slot of finished(), use deleteLater().
    ~MeasureWorker() override;

    // What measures the first audio stream of a source as the RMS modes' WAV copy holds it (so
    // that a plan sees what the normaliser will), or an output as it decodes (32-bit floats, so
    // that peaks over full scale show). Nothing when the probe found no audio stream with a
    // known channel count and rate; `why` then says so.
    static std::optional<tool_contracts::MeasureInput> sourceInput(const std::string& path, const ProbeFacts& probe,
                                                                    std::string& why);
    static std::optional<tool_contracts::MeasureInput> outputInput(const std::string& path, const ProbeFacts& probe,
                                                                    std::string& why);

    // Asks for one file's measurement, starting the worker when none runs; finished() comes
    // from the event loop, never from within this call. Only while not busy(). A worker silent
    // for stallLimitMs (see stall_limit; 0: no limit) is killed and the file fails.
    void measure(tool_contracts::MeasureInput input, int stallLimitMs = 0);
    // Kills the worker's process group and waits for it; a measuring going gets no finished().
    void cancel();
    bool busy() const { return busy_; }

signals:
    void finished(const MeasureResult& result);

private:
    std::string start();
    std::vector<std::string> takeAnswers();
    void readAnswers();
    void readMessages();
    void answered(std::string_view line);
    void workerEnded();
    void stalled();
    void heardFrom();
    void stop();
    void end(MeasureResult result);

    std::string program_;
    tool_launch::Priority priority_;
    QProcess* process_ = nullptr;
    QTimer* watchdog_ = nullptr;
    int stallLimitMs_ = 0;
    pid_t pid_ = 0;
    std::unique_ptr<LineSplitter> answers_;  // kept out of this header: Qt defines "emit"
    std::unique_ptr<LineSplitter> messages_;
    ToolErrorReport report_;  // the worker's messages while measuring this file
    std::string file_;
    bool busy_ = false;
    unsigned request_ = 0;  // tells a late queued result from the one being waited for
};
