#include "analysis/StageDialog.h"

#include "analysis/ProgressMath.h"
#include "app/ProgramFont.h"
#include "app/Tmain.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

StageDialog::StageDialog(Tmain& main, const QString& name, int width, int height, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), main_(main)
{
    setObjectName(name);
    setFont(programFont());
    setFixedSize(width, height);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(12, 6, width - 24, 16);

    progresstotal = new QProgressBar(this);
    progresstotal->setObjectName(QStringLiteral("progresstotal"));
    progresstotal->setRange(0, 100);
    progresstotal->setValue(0);
    progresstotal->setTextVisible(false);
    progresstotal->setGeometry(12, 25, width - 24, 17);

    Button1 = new QPushButton(QStringLiteral("Cancel"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setAutoDefault(false);
    Button1->setGeometry((width - 75) / 2, height - 33, 75, 25);
    connect(Button1, &QPushButton::clicked, this, &StageDialog::Button1Click);

    label_fileofcount = new QLabel(this);
    label_fileofcount->setObjectName(QStringLiteral("label_fileofcount"));
    label_fileofcount->setGeometry(12, height - 33, (width - 75) / 2 - 18, 25);
    label_fileofcount->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

QTimer* StageDialog::makeStageTimer(const QString& name, int intervalMs)
{
    auto* timer = new QTimer(this);
    timer->setObjectName(name);
    timer->setInterval(intervalMs);
    return timer;
}

void StageDialog::showFileOfCount(int fileIndex, int itemCount)
{
    label_fileofcount->setText(
        QString::fromStdString(progress_math::fileOfCountText(fileIndex, itemCount)));
}

ToolRunResult StageDialog::runStageTool(const std::string& toolPath,
                                        const std::vector<std::string>& arguments,
                                        const ToolRunner::LineHandler& onLine)
{
    struct Running {
        bool& flag;
        explicit Running(bool& f) : flag(f) { flag = true; }
        ~Running() { flag = false; }
    } running(toolRunning_);
    return run_tool(toolPath, arguments, main_.cancel_flag, onLine);
}

void StageDialog::Button1Click()
{
    main_.cancel_flag = true;
    close();
}

void StageDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        Button1->click();  // does nothing while the button is disabled
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void StageDialog::closeEvent(QCloseEvent* event)
{
    // Closing from the window manager (Alt+F4 and the like) is a Cancel: the stage must not
    // go on running without its dialog.
    if (event->spontaneous())
        main_.cancel_flag = true;
    QDialog::closeEvent(event);
}
