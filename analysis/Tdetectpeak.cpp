#include "analysis/Tdetectpeak.h"

#include "analysis/ProgressMath.h"
#include "analysis/StageRules.h"
#include "analysis/ToolOutputParsers.h"
#include "analysis/ToolRunner.h"
#include "app/MessageBoxes.h"
#include "app/Tmain.h"
#include "tools/ToolContracts.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>

Tdetectpeak::Tdetectpeak(Tmain& main, QWidget* parent)
    : StageDialog(main, QStringLiteral("Tdetectpeak"), 326, 79, parent)
{
    timer_dodetect = makeStageTimer(QStringLiteral("timer_dodetect"), 100);
    connect(timer_dodetect, &QTimer::timeout, this, &Tdetectpeak::timer_dodetectTimer);
}

void Tdetectpeak::timer_dodetectTimer()
{
    using stage_rules::RunVerdict;
    using stage_rules::StageStep;

    timer_dodetect->stop();
    const int count = main_.rowCount();
    showFileOfCount(main_.file_index, count);
    ToolErrorReport report;
    bool found = false;
    std::optional<std::string> gain;

    auto onLine = [&](std::string_view line) {
        report.addLine(line);
        if (tool_output::isMaxVolumeLine(line)) {
            found = true;
            // The last report of a run wins; a silent file ("-inf") gets no gain at all.
            gain = tool_output::peakGainText(line);
            progresstotal->setValue(
                progress_math::steppedPosition(progresstotal->value(), progresstotal->maximum(), count));
        }
        Label1->setText(QStringLiteral("Analyze data......"));
    };
    const ToolRunResult result =
        runStageTool(tool_contracts::converterPath(), main_.tool_args, onLine);
    const RunVerdict verdict = stage_rules::judgeRun(result, report, found);

    if (verdict.kind != RunVerdict::Kind::Cancelled) {
        const bool done = verdict.kind == RunVerdict::Kind::Done;
        main_.peak_text = done ? gain.value_or(std::string()) : std::string();
        main_.setRowCell(main_.file_index, 3, QString::fromStdString(main_.peak_text));
        if (!done)
            main_.job.failedRows.insert(main_.file_index);
    }

    const bool last = main_.file_index >= count - 1;
    const StageStep step = stage_rules::stepAfter(verdict.kind, last);
    if (step != StageStep::NextFile)
        close();
    if (!verdict.message.empty())
        message_boxes::showError(this, QStringLiteral("Error!"), QString::fromStdString(verdict.message));
    switch (step) {
    case StageStep::EndJob:
        main_.endJob();
        return;
    case StageStep::NextStage:
        main_.timer_peak2convert->start();
        return;
    case StageStep::NextFile:
        if (main_.cancel_flag) {
            main_.endJob();
            return;
        }
        ++main_.file_index;
        main_.multi_peak();
        return;
    }
}
