#include "analysis/Trms.h"

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

Trms::Trms(Tmain& main, QWidget* parent)
    : StageDialog(main, QStringLiteral("Trms"), 333, 80, parent)
{
    timer_dorms = makeStageTimer(QStringLiteral("timer_dorms"), 2);
    connect(timer_dorms, &QTimer::timeout, this, &Trms::timer_dormsTimer);
}

void Trms::timer_dormsTimer()
{
    using stage_rules::RunVerdict;

    timer_dorms->stop();
    const int count = main_.rowCount();
    ToolErrorReport report;
    // The normaliser reports each file as it finishes it: the next one is under way.
    int filesDone = 0;
    showFileOfCount(filesDone, count);
    auto onLine = [&](std::string_view line) {
        report.addLine(line);
        if (tool_output::isNormalizerMarkerLine(line)) {
            progresstotal->setValue(
                progress_math::steppedPosition(progresstotal->value(), progresstotal->maximum(), count));
            showFileOfCount(++filesDone, count);
        }
        Label1->setText(QStringLiteral("Analyze data......"));
    };
    const ToolRunResult result =
        runStageTool(tool_contracts::normalizerPath(), main_.normalizerArgs(), onLine);
    // The normaliser has no success marker: only how it ended tells whether every copy was
    // adjusted, and unadjusted copies must not become outputs.
    const RunVerdict verdict = stage_rules::judgeRun(result, report, true);
    close();
    if (!verdict.message.empty())
        message_boxes::showError(this, QStringLiteral("Error!"), QString::fromStdString(verdict.message));
    if (verdict.kind == RunVerdict::Kind::Done && !main_.cancel_flag)
        main_.timer_rms2convert->start();
    else
        main_.endJob();
}
