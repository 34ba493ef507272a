#include "analysis/Trms.h"

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

Trms::Trms(Tmain& main, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), main_(main)
{
    setObjectName(QStringLiteral("Trms"));
    setFont(programFont());
    setFixedSize(333, 80);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(12, 6, 333 - 24, 16);

    progresstotal = new QProgressBar(this);
    progresstotal->setObjectName(QStringLiteral("progresstotal"));
    progresstotal->setRange(0, 100);
    progresstotal->setValue(0);
    progresstotal->setTextVisible(false);
    progresstotal->setGeometry(12, 25, 333 - 24, 17);

    Button1 = new QPushButton(QStringLiteral("Cancel"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setAutoDefault(false);
    Button1->setGeometry((333 - 75) / 2, 80 - 33, 75, 25);
    connect(Button1, &QPushButton::clicked, this, &Trms::Button1Click);

    timer_dorms = new QTimer(this);
    timer_dorms->setObjectName(QStringLiteral("timer_dorms"));
    timer_dorms->setInterval(2);
    connect(timer_dorms, &QTimer::timeout, this, &Trms::timer_dormsTimer);

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void Trms::Button1Click()
{
    main_.cancel_flag = true;
    close();
}

void Trms::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        Button1->click();  // does nothing while the button is disabled
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void Trms::closeEvent(QCloseEvent* event)
{
    // Closing from the window manager (Alt+F4 and the like) is a Cancel: the stage must not
    // go on running without its dialog.
    if (event->spontaneous())
        main_.cancel_flag = true;
    QDialog::closeEvent(event);
}

void Trms::timer_dormsTimer()
{
    using stage_rules::RunVerdict;

    timer_dorms->stop();
    const int count = main_.rowCount();
    ToolErrorReport report;
    auto onLine = [&](std::string_view line) {
        report.addLine(line);
        if (tool_output::isNormalizerMarkerLine(line))
            progresstotal->setValue(
                progress_math::steppedPosition(progresstotal->value(), progresstotal->maximum(), count));
        Label1->setText(QStringLiteral("Analyze data......"));
    };
    const ToolRunResult result = run_tool(
        tool_contracts::normalizerPath(),
main_.normalizerArgs(), main_.cancel_flag, onLine);
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
