#include "conversion/Tbatchaudioc.h"

#include "analysis/ProgressMath.h"
#include "analysis/ToolOutputParsers.h"
#include "app/Tmain.h"
#include "conversion/OutputFiles.h"

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

bool Tbatchaudioc::towav() const
{
    return main_.job_mode == JobMode::convert_towav;
}

void Tbatchaudioc::timer_doconvertTimer()
{
    // A tick armed before a Cancel still comes; it starts nothing.
    timer_doconvert->stop();
    startRows();
}

bool Tbatchaudioc::prepareRow(int row)
{
    return towav() ? main_.multi_towav(row) : main_.multi_convert(row);
}

void Tbatchaudioc::handleLine(int row, RowRun& run, std::string_view line)
{
    run.report.addLine(line);
    tool_output::readLoudnessLine(line, run.loudness);
    if (!tool_output::isProgressLine(line))
        return;
    run.markerSeen = true;
    const std::optional<tool_output::ProgressTime> time = tool_output::parseProgress(line);
    if (!time)
        return;  // "N/A" or an odd line: nothing to show, the run goes on
    JobState& job = main_.job;
    job.setFraction(row, progress_math::listFraction(time->elapsedSeconds,
                                                     job.row(row).facts.durationUs, 0));
    const int position =
        progress_math::listPosition(job.listFraction(), job.rowCount(), progresstotal->maximum());
    progresstotal->setValue(progress_math::neverBack(progresstotal->value(), position));
    if (main_.job_mode == JobMode::direct_convert)
        Label1->setText(QString::fromStdString(progress_math::processLabel(*time)));
    else if (towav())
        Label1->setText(QString::fromStdString(progress_math::prepareAudioDataLabel(*time)));
}

stage_rules::RunVerdict Tbatchaudioc::finishRun(int row, RowRun& run, const ToolRunResult& result)
{
    using stage_rules::RunVerdict;
    RunVerdict verdict = stage_rules::judgeRun(result, run.report, run.markerSeen);
    JobRow& record = main_.job.row(row);

    // Only a finished file keeps what the converter wrote.
    const bool done = verdict.kind == RunVerdict::Kind::Done;
    if (towav()) {
        if (!done)
            std::remove(record.output.c_str());
        else
            record.downmixGains = conversion_command::downmixGains(run.loudness.integrated);
    } else if (!record.command) {
        // The measurement before the conversion: the conversion follows in the same place.
        if (done) {
            const bool peakMode = main_.job.mode == conversion_command::VolumeMode::PeakTrackGain;
            record.downmixGains = conversion_command::downmixGains(
                run.loudness.integrated, run.loudness.samplePeak,
                peakMode ? std::optional(QString::fromStdString(record.gain).toDouble()) : std::nullopt);
            record.measuredFirst = run.again = true;
        }
    } else {
        if (verdict.kind == RunVerdict::Kind::Done) {
            const output_files::StepResult committed =
                output_files::commitOutput(*record.command, main_.job.sourceNames());
            if (!committed.ok)
                verdict = {RunVerdict::Kind::Failed, committed.error};
            else
                main_.setRowNote(row, QString::fromStdString(record.command->note));
        } else {
            output_files::discardOutput(*record.command);
        }
        record.command.reset();
    }

    // The converter names what it wrote (a WAV copy, a hidden temporary file); the user knows
    // the file by its source.
    if (verdict.kind == RunVerdict::Kind::Failed && !verdict.message.empty())
        verdict.message = main_.rowPath(row) + ":\n" + verdict.message;
    return verdict;
}

void Tbatchaudioc::discardRow(int row)
{
    JobRow& record = main_.job.row(row);
    if (towav()) {
        std::remove(record.output.c_str());
    } else if (record.command) {
        output_files::discardOutput(*record.command);
        record.command.reset();
    }
}

void Tbatchaudioc::stageDone()
{
    (towav() ? main_.timer_wav2rms : main_.Timer_endmsg)->start();
}
