#include "conversion/Tbatchaudioc.h"

#include "analysis/ProgressMath.h"
#include "analysis/StageRules.h"
#include "analysis/ToolOutputParsers.h"
#include "analysis/ToolRunner.h"
#include "app/MessageBoxes.h"
#include "app/Tmain.h"
#include "conversion/OutputFiles.h"
#include "tools/ToolContracts.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <cstdio>

namespace {

QFont programFont()
{
    QFont font(QStringLiteral("Verdana"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

}  // namespace

Tbatchaudioc::Tbatchaudioc(Tmain& main, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), main_(main)
{
    setObjectName(QStringLiteral("Tbatchaudioc"));
    setFont(programFont());
    setFixedSize(347, 89);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(12, 6, 347 - 24, 16);

    progresstotal = new QProgressBar(this);
    progresstotal->setObjectName(QStringLiteral("progresstotal"));
    progresstotal->setRange(0, 100);
    progresstotal->setValue(0);
    progresstotal->setTextVisible(false);
    progresstotal->setGeometry(12, 25, 347 - 24, 17);

    Button1 = new QPushButton(QStringLiteral("Cancel"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setAutoDefault(false);
    Button1->setGeometry((347 - 75) / 2, 89 - 33, 75, 25);
    connect(Button1, &QPushButton::clicked, this, &Tbatchaudioc::Button1Click);

    timer_doconvert = new QTimer(this);
    timer_doconvert->setObjectName(QStringLiteral("timer_doconvert"));
    timer_doconvert->setInterval(2);
    connect(timer_doconvert, &QTimer::timeout, this, &Tbatchaudioc::timer_doconvertTimer);

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void Tbatchaudioc::Button1Click()
{
    main_.cancel_flag = true;
    close();
}

void Tbatchaudioc::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        Button1->click();  // does nothing while the button is disabled
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void Tbatchaudioc::closeEvent(QCloseEvent* event)
{
    // Closing from the window manager (Alt+F4 and the like) is a Cancel: the stage must not
    // go on running without its dialog.
    if (event->spontaneous())
        main_.cancel_flag = true;
    QDialog::closeEvent(event);
}

void Tbatchaudioc::timer_doconvertTimer()
{
    using stage_rules::RunVerdict;
    using stage_rules::StageStep;

    timer_doconvert->stop();
    const bool towav = main_.job_mode == "convert_towav";
    const int count = main_.rowCount();
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
        run_tool(tool_contracts::converterPath(), main_.tool_args, main_.cancel_flag, onLine);
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
        } else {
            output_files::discardOutput(*main_.job.command);
        }
        main_.job.command.reset();
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
