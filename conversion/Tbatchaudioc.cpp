#include "conversion/Tbatchaudioc.h"

#include "analysis/ProgressMath.h"
#include "analysis/StageRules.h"
#include "analysis/ToolOutputParsers.h"
#include "analysis/ToolRunner.h"
#include "app/MessageBoxes.h"
#include "app/Tmain.h"
#include "conversion/OutputFiles.h"
#include "tools/ToolContracts.h"

#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include <cstdio>

Tbatchaudioc::Tbatchaudioc(Tmain& main, QWidget* parent)
    : StageDialog(main, QStringLiteral("Tbatchaudioc"), 347, 89, parent)
{
    timer_doconvert = makeStageTimer(QStringLiteral("timer_doconvert"), 2);
    connect(timer_doconvert, &QTimer::timeout, this, &Tbatchaudioc::timer_doconvertTimer);
}

void Tbatchaudioc::timer_doconvertTimer()
{
    using stage_rules::RunVerdict;
    using stage_rules::StageStep;

    timer_doconvert->stop();
    const bool towav = main_.job_mode == "convert_towav";
    const int count = main_.rowCount();
    showFileOfCount(main_.file_index, count);
    ToolErrorReport report;
    bool progressSeen = false;

    auto onLine = [&](std::string_view line) {
        report.addLine(line);
        if (!tool_output::isProgressLine(line))
            return;
        progressSeen = true;
        const std::optional<tool_output::ProgressTime> time = tool_output::parseProgress(line);
        if (!time)
            return;  // "N/A" or an odd line: nothing to show, the run goes on
        const int position = progress_math::conversionPosition(
            time->elapsedSeconds, main_.file_duration, main_.file_index, count,
            progresstotal->maximum());
        progresstotal->setValue(progress_math::neverBack(progresstotal->value(), position));
        if (main_.job_mode == "direct_convert")
            Label1->setText(QString::fromStdString(progress_math::processLabel(*time)));
        else if (towav)
            Label1->setText(QString::fromStdString(progress_math::prepareAudioDataLabel(*time)));
    };
    // A tick armed before a Cancel still comes; it starts nothing.
    const ToolRunResult result =
        runStageTool(tool_contracts::converterPath(), main_.tool_args, onLine);
    RunVerdict verdict = stage_rules::judgeRun(result, report, progressSeen);

    // Only a finished file keeps what the converter wrote.
    if (towav) {
        if (verdict.kind != RunVerdict::Kind::Done) {
            std::remove(main_.tmp_wav.c_str());
            main_.job.failedRows.insert(main_.file_index);
        }
    } else if (main_.job.command) {
        if (verdict.kind == RunVerdict::Kind::Done) {
            const output_files::StepResult committed =
                output_files::commitOutput(*main_.job.command, main_.job.sources);
            if (!committed.ok)
                verdict = {RunVerdict::Kind::Failed, committed.error};
            else
                main_.setRowNote(main_.file_index, QString::fromStdString(main_.job.command->note));
        } else {
            output_files::discardOutput(*main_.job.command);
        }
        main_.job.command.reset();
    }

    // The converter names what it wrote (a WAV copy, a hidden temporary file); the user knows
    // the file by its source.
    if (verdict.kind == RunVerdict::Kind::Failed && !verdict.message.empty())
        verdict.message = main_.rowPath(main_.file_index) + ":\n" + verdict.message;

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
        (towav ? main_.timer_wav2rms : main_.Timer_endmsg)->start();
        return;
    case StageStep::NextFile:
        if (main_.cancel_flag) {  // Cancel pressed while the message was up
            main_.endJob();
            return;
        }
        ++main_.file_index;
        if (towav)
            main_.multi_towav();
        else
            main_.multi_convert();
        return;
    }
}
