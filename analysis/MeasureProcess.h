#pragma once

#include "Measurement.h"
#include "analysis/ToolErrorReport.h"
#include "tools/ToolContracts.h"

#include <QObject>

#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

class LineSplitter;
class QProcess;
struct ProbeFacts;

// How the measuring of one file ended: its measurement, or why there is none.
struct MeasureResult {
    std::string file;                        // the file measured, absolute
    std::optional<Measurement> measurement;  // when both tools ended well and the line was read
    std::string reason;                      // otherwise: the tool's or the system's own words

    // "Cannot measure <file>: <reason>"; "" when measured.
    std::string message() const;
};

// The loudness of one file's audio, measured out of the program's process (see
// tool_contracts::measureDecodeArgs): the converter decodes into the normaliser's measuring
// mode through a pipe, so a file that crashes the decoder only fails its own measuring. Like a
// ToolProcess it is not waited for: both tools start from argument vectors, each leads a process
// group of its own, and the end is reported once from the event loop. Several may run at once.
class MeasureProcess : public QObject {
    Q_OBJECT
public:
    MeasureProcess(std::string converter, std::string normaliser, tool_contracts::MeasureInput input,
                   QObject* parent = nullptr);
    // A measuring still going is cancelled.
    ~MeasureProcess() override;

    // What measures the first audio stream of a source as the RMS modes' WAV copy holds it (so
    // that a plan sees what the normaliser will), or an output as it decodes (32-bit floats, so
    // that peaks over full scale show). Nothing when the probe found no audio stream with a
    // known channel count and rate; `why` then says so.
    static std::optional<tool_contracts::MeasureInput> sourceInput(const std::string& path, const ProbeFacts& probe,
                                                                    std::string& why);
    static std::optional<tool_contracts::MeasureInput> outputInput(const std::string& path, const ProbeFacts& probe,
                                                                    std::string& why);

    // Starts both tools. A start that fails is returned here (and finished() never comes);
    // otherwise finished() comes from the event loop once both have ended.
    std::optional<MeasureResult> start();
    // Kills both process groups and waits for the tools; finished() does not come. Nothing once
    // the measuring is over.
    void cancel();
    bool running() const { return running_; }

signals:
    // Seconds of the file decoded so far, from the converter's progress lines.
    void progress(double seconds);
    void finished(const MeasureResult& result);

private:
    void readDecoder();
    void readMeter();
    void toolEnded();
    MeasureResult failure(std::string reason) const;

    std::string converter_;
    std::string normaliser_;
    tool_contracts::MeasureInput input_;
    QProcess* decoder_ = nullptr;
    QProcess* meter_ = nullptr;
    pid_t decoderPid_ = 0;
    pid_t meterPid_ = 0;
    std::unique_ptr<LineSplitter> decoderLines_;  // kept out of this header: Qt defines "emit"
    std::unique_ptr<LineSplitter> meterLines_;
    ToolErrorReport decoderReport_;
    ToolErrorReport meterReport_;
    std::string resultLine_;
    bool running_ = false;
};
