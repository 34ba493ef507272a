#include "analysis/Tdetectpeak.h"

#include "analysis/ProgressMath.h"
#include "analysis/ToolOutputParsers.h"
#include "app/Tmain.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>

namespace {
constexpr int kPeakCell = 3;
}

Tdetectpeak::Tdetectpeak(Tmain& main, QWidget* parent)
    : StageDialog(main, QStringLiteral("Tdetectpeak"), 326, 79, parent)
{
    timer_dodetect = makeStageTimer(QStringLiteral("timer_dodetect"), 100);
    connect(timer_dodetect, &QTimer::timeout, this, &Tdetectpeak::timer_dodetectTimer);
}

void Tdetectpeak::timer_dodetectTimer()
{
    timer_dodetect->stop();
    startRows();
}

bool Tdetectpeak::prepareRow(int row)
{
    main_.multi_peak(row);
    return true;
}

void Tdetectpeak::handleLine(int, RowRun& run, std::string_view line)
{
    run.report.addLine(line);
    tool_output::readLoudnessLine(line, run.loudness);
    if (tool_output::isMaxVolumeLine(line)) {
        run.markerSeen = true;
        // The last report of a run wins; a silent file ("-inf") gets no gain at all.
        run.gain = tool_output::peakGainText(line);
        progresstotal->setValue(progress_math::steppedPosition(
            progresstotal->value(), progresstotal->maximum(), main_.job.rowCount()));
    }
    Label1->setText(QStringLiteral("Analyze data......"));
}

stage_rules::RunVerdict Tdetectpeak::finishRun(int row, RowRun& run, const ToolRunResult& result)
{
    using stage_rules::RunVerdict;
    const RunVerdict verdict = stage_rules::judgeRun(result, run.report, run.markerSeen);
    if (verdict.kind != RunVerdict::Kind::Cancelled) {
        const bool done = verdict.kind == RunVerdict::Kind::Done;
        // No gain (a silent file) is a gain of 0 dB: the downmix still stays under full scale.
        if (done)
            main_.job.row(row).downmixGains = conversion_command::downmixGains(
                run.loudness.integrated, run.loudness.samplePeak,
                QString::fromStdString(run.gain.value_or(std::string())).toDouble());
        std::string& gain = main_.job.row(row).gain;
        gain = done ? run.gain.value_or(std::string()) : std::string();
        main_.setRowCell(row, kPeakCell, QString::fromStdString(gain));
    }
    return verdict;
}

void Tdetectpeak::stageDone()
{
    main_.timer_peak2convert->start();
}
