#pragma once

#include "analysis/ToolRunResult.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class LineSplitter;
class QProcess;
class QTimer;

// One run of an external tool that the caller does not wait for: started like every tool run
// (see tool_launch), its output handed over line by line from the event loop as it comes,
// and its end reported once. Several may run at once, each owning its own process group. A run
// that prints nothing for its stall limit is taken for hung: its group is killed and its end
// reported as Stalled.
class ToolProcess : public QObject {
    Q_OBJECT
public:
    using LineHandler = std::function<void(std::string_view line)>;
    using FinishHandler = std::function<void(const ToolRunResult& result)>;

    ToolProcess(std::string toolPath, std::vector<std::string> arguments, LineHandler onLine,
                FinishHandler onFinish, QObject* parent = nullptr);
    // A run still going is cancelled.
    ~ToolProcess() override;

    // Starts the tool. A start that fails is returned here (and onFinish is never called);
    // otherwise onFinish is called from the event loop once the tool has ended, after its last
    // line. onFinish may delete this object only through deleteLater().
    std::optional<ToolRunResult> start();

    // The silence after which the run counts as hung (see stall_limit); 0, the default, for
    // none. Before start().
    void setStallLimit(int milliseconds) { stallLimitMs_ = milliseconds; }

    // Kills the whole process group and waits for the tool: nothing more is handed over and
    // onFinish is not called. Does nothing once the run is over.
    void cancel();

    bool running() const { return running_; }
    pid_t pid() const { return pid_; }

private:
    void readOutput();
    void finished();
    void stalled();

    std::string toolPath_;
    std::vector<std::string> arguments_;
    LineHandler onLine_;
    FinishHandler onFinish_;
    QProcess* process_ = nullptr;
    QTimer* watchdog_ = nullptr;  // restarted by every output
    int stallLimitMs_ = 0;
    std::unique_ptr<LineSplitter> splitter_;  // kept out of this header: Qt defines "emit"
    pid_t pid_ = 0;
    bool running_ = false;
};
