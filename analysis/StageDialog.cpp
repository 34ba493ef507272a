#include "analysis/StageDialog.h"

#include "analysis/ProgressMath.h"
#include "analysis/ToolProcess.h"
#include "app/MessageBoxes.h"
#include "app/ProgramFont.h"
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
    } running(blockingRun_);
    return run_tool(toolPath, arguments, main_.cancel_flag, onLine);
}

void StageDialog::startRows()
{
    if (starting_)
        return;  // a start that failed at once: the loop below goes on
    starting_ = true;
    JobState& job = main_.job;
    while (main_.jobActive() && !main_.cancel_flag) {
        const std::optional<int> next = job.takeNextRow();
        if (!next)
            break;
        const int row = *next;
        main_.file_index = row;
        if (prepareRow(row))
            startRun(row);
    }
    starting_ = false;
    showProgressCount();
    tellEnds();
}

void StageDialog::startRun(int row)
{
    RowRun& run = runs_[row];
    run.process = new ToolProcess(
        tool_contracts::converterPath(), main_.tool_args,
        [this, row](std::string_view line) { handleLine(row, runs_.at(row), line); },
        [this, row](const ToolRunResult& result) { runEnded(row, result); }, this);
    setWindowTitle(main_.rowCaption(row));
    if (const std::optional<ToolRunResult> failed = run.process->start())
        runEnded(row, *failed);
}

void StageDialog::runEnded(int row, const ToolRunResult& result)
{
    const auto found = runs_.find(row);
    if (found == runs_.end())
        return;
    found->second.process->deleteLater();
    const stage_rules::RunVerdict verdict = finishRun(row, found->second, result);
    const bool again = found->second.again;
    runs_.erase(found);
    if (again && verdict.kind == stage_rules::RunVerdict::Kind::Done && main_.jobActive() &&
        !main_.cancel_flag) {
        // The row's next run takes its place at once; a row that ends instead is told.
        main_.file_index = row;
        if (prepareRow(row))
            startRun(row);
        else
            startRows();
        return;
    }
    if (const std::optional<int> shown = main_.job.firstRunningRow())
        setWindowTitle(main_.rowCaption(*shown));
    rowEnded(row, verdict);
}

void StageDialog::rowEnded(int row, stage_rules::RunVerdict verdict)
{
    using Kind = stage_rules::RunVerdict::Kind;
    JobState& job = main_.job;
    if (verdict.kind == Kind::Cancelled) {
        job.withdrawRow(row);
        return;
    }
    const bool endsJob = stage_rules::stepAfter(verdict.kind, row >= job.rowCount() - 1)
                         == stage_rules::StageStep::EndJob;
    job.finishRow(row, verdict.kind == Kind::Done ? RowState::Done : RowState::Failed,
                  "Error!", std::move(verdict.message), endsJob, endsJob);
    if (verdict.kind == Kind::CannotStart) {
        // One at a time no later row would have started: those that did are taken back.
        for (auto later = runs_.upper_bound(row); later != runs_.end();) {
            later->second.process->cancel();
            later->second.process->deleteLater();
            discardRow(later->first);
            job.withdrawRow(later->first);
            later = runs_.erase(later);
        }
    }
    startRows();
}

void StageDialog::tellEnds()
{
    if (telling_)
        return;  // a message is up: the loop below tells the rest after it
    telling_ = true;
    JobState& job = main_.job;
    while (main_.jobActive() && !main_.cancel_flag) {
        std::optional<JobState::Report> report = job.takeReport();
        if (!report)
            break;
        if (report->closesStage)
            close();
        if (!report->text.empty())
            message_boxes::showError(this, QString::fromStdString(report->caption),
                                     QString::fromStdString(report->text));
        if (report->endsJob) {
            telling_ = false;
            if (main_.jobActive() && !main_.cancel_flag) {
                close();
                main_.endJob();
            }
            return;
        }
    }
    telling_ = false;
    showProgressCount();
    if (main_.jobActive() && !main_.cancel_flag && job.stageOver()) {
        close();
        stageDone();
    }
}

void StageDialog::showProgressCount()
{
    const JobState& job = main_.job;
    label_fileofcount->setText(QString::fromStdString(
        progress_math::filesAtWorkText(job.doneCount(), job.runningCount(), job.rowCount())));
}

void StageDialog::cancelRuns()
{
    for (auto& [row, run] : runs_) {
        run.process->cancel();
        run.process->deleteLater();
        discardRow(row);
        main_.job.withdrawRow(row);
    }
    runs_.clear();
}

void StageDialog::cancelStage()
{
    main_.cancel_flag = true;
    cancelRuns();
    // A run of the whole list ends the job itself once it has seen the flag.
    if (!blockingRun_)
        main_.endJob();
}

bool StageDialog::prepareRow(int) { return false; }
void StageDialog::handleLine(int, RowRun&, std::string_view) {}
stage_rules::RunVerdict StageDialog::finishRun(int, RowRun&, const ToolRunResult&) { return {}; }
void StageDialog::discardRow(int) {}
void StageDialog::stageDone() {}

void StageDialog::Button1Click()
{
    cancelStage();
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
        cancelStage();
    QDialog::closeEvent(event);
}
