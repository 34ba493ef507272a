#include "app/stages/StageDialog.h"

#include "analysis/ProgressMath.h"

#include <QCloseEvent>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

StageDialog::StageDialog(const QString& name, int width, int height, const QFont& font, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(name);
    setFont(font);
    setFixedSize(width, height);
    // Shown while the job goes on, above the main window, which takes no input meanwhile.
    setModal(true);

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

void StageDialog::showFileOfCount(int fileIndex, int itemCount)
{
    label_fileofcount->setText(
        QString::fromStdString(progress_math::fileOfCountText(fileIndex, itemCount)));
}

void StageDialog::follow(Job& job)
{
    if (job_)
        job_->disconnect(this);
    job_ = &job;
    connect(&job, &Job::stageStarted, this, [this](Job::Stage stage) {
        if (shows(stage))
            openStage(stage);
    });
    connect(&job, &Job::stageEnded, this, [this](Job::Stage stage) {
        if (shows(stage))
            close();
    });
    connect(&job, &Job::rowStarted, this, [this](int row) {
        if (showing())
            showRow(row);
    });
    connect(&job, &Job::rowProgress, this, [this](int, int percent, const std::string& status) {
        if (showing())
            showProgress(percent, status);
    });
    connect(&job, &Job::rowMeasured, this, [this] {
        if (showing())
            showCount();
    });
    connect(&job, &Job::rowEnded, this, [this] {
        if (showing())
            showCount();
    });
    connect(&job, &Job::finished, this, [this] {
        if (isVisible())
            close();
    });
}

bool StageDialog::showing() const
{
    return job_ && shows(job_->stage()) && job_->stageShown();
}

bool StageDialog::toolRunning() const
{
    return showing() && !job_->isOver() && job_->toolRunsGoing() > 0;
}

void StageDialog::openStage(Job::Stage stage)
{
    titleRow_ = -1;
    // A stage of rows names the first of them until its runs say which they are at.
    if (stage == Job::Stage::Check)
        setWindowTitle(QStringLiteral("Checking outputs"));
    else if (stage != Job::Stage::Normalisation && job_->rowCount() > 0)
        showRow(0);
    progresstotal->setValue(0);
    Button1->setEnabled(true);
    stageOpening(stage);
    showCount();
    show();
}

void StageDialog::showRow(int row)
{
    titleRow_ = row;
    setWindowTitle(QFile::decodeName(QByteArray::fromStdString(job_->settings().sources.at(row))));
    showCount();
}

void StageDialog::showProgress(int percent, const std::string& status)
{
    progresstotal->setValue(percent);
    Label1->setText(QString::fromStdString(status));
    // Once the file in the title is done, another one at work takes its place.
    if (titleRow_ >= 0 && !job_->rowRunning(titleRow_))
        if (const std::optional<int> atWork = job_->firstRunningRow())
            showRow(*atWork);
    showCount();
}

void StageDialog::showCount()
{
    label_fileofcount->setText(QString::fromStdString(
        progress_math::filesAtWorkText(job_->doneCount(), job_->runningCount(), job_->rowCount())));
}

void StageDialog::Button1Click()
{
    if (job_)
        job_->cancel();
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
    if (event->spontaneous() && job_)
        job_->cancel();
    QDialog::closeEvent(event);
}
