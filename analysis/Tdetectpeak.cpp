#include "analysis/Tdetectpeak.h"

#include "analysis/ProgressMath.h"
#include "analysis/StageRules.h"
#include "analysis/ToolOutputParsers.h"
#include "analysis/ToolRunner.h"
#include "app/MessageBoxes.h"
#include "app/Tmain.h"
#include "tools/ToolContracts.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace {

QFont programFont()
{
    QFont font(QStringLiteral("Verdana"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

}  // namespace

Tdetectpeak::Tdetectpeak(Tmain& main, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), main_(main)
{
    setObjectName(QStringLiteral("Tdetectpeak"));
    setFont(programFont());
    setFixedSize(326, 79);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(12, 6, 326 - 24, 16);

    progresstotal = new QProgressBar(this);
    progresstotal->setObjectName(QStringLiteral("progresstotal"));
    progresstotal->setRange(0, 100);
    progresstotal->setValue(0);
    progresstotal->setTextVisible(false);
    progresstotal->setGeometry(12, 25, 326 - 24, 17);

    Button1 = new QPushButton(QStringLiteral("Cancel"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setAutoDefault(false);
    Button1->setGeometry((326 - 75) / 2, 79 - 33, 75, 25);
    connect(Button1, &QPushButton::clicked, this, &Tdetectpeak::Button1Click);

    timer_dodetect = new QTimer(this);
    timer_dodetect->setObjectName(QStringLiteral("timer_dodetect"));
    timer_dodetect->setInterval(100);
    connect(timer_dodetect, &QTimer::timeout, this, &Tdetectpeak::timer_dodetectTimer);

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void Tdetectpeak::Button1Click()
{
    main_.cancel_flag = true;
    close();
}

void Tdetectpeak::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        Button1->click();  // does nothing while the button is disabled
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void Tdetectpeak::closeEvent(QCloseEvent* event)
{
    // Closing from the window manager (Alt+F4 and the like) is a Cancel: the stage must not
    // go on running without its dialog.
    if (event->spontaneous())
        main_.cancel_flag = true;
    QDialog::closeEvent(event);
}

void Tdetectpeak::timer_dodetectTimer()
{
    using stage_rules::RunVerdict;
    using stage_rules::StageStep;

    timer_dodetect->stop();
    const int count = main_.rowCount();
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
        run_tool(tool_contracts::converterPath(), main_.tool_args, main_.cancel_flag, onLine);
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
