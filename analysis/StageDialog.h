#pragma once

#include "analysis/StageRules.h"
#include "analysis/ToolErrorReport.h"
#include "analysis/ToolOutputParsers.h"
#include "analysis/ToolRunner.h"

#include <QDialog>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class Tmain;
class ToolProcess;

// What every stage dialog of a job shows: a status line, the progress of the whole list and
// Cancel. Each stage adds its own timer, which starts the stage's work.
//
// A stage that runs a tool per row keeps up to the job's limit of runs going: its timer starts
// the first ones and every run that ends starts the next row at once. The job's state says
// which row starts next and which row's end is told next; the dialog shows it.
class StageDialog : public QDialog {
    Q_OBJECT
public:
    QLabel* Label1;
    QProgressBar* progresstotal;  // 0..100
    QPushButton* Button1;         // "Cancel", also pressed by Esc
    QLabel* label_fileofcount;    // "File 3 of 12", left of Cancel

    // Shows which file of how many the stage is at (0-based index).
    void showFileOfCount(int fileIndex, int itemCount);

    // True while any of the stage's tool runs goes on.
    bool toolRunning() const { return blockingRun_ || !runs_.empty(); }

    // Ends every run of the stage at once; what they were writing is removed.
    void cancelRuns();

public slots:
    // Cancels the job and closes the dialog.
    void Button1Click();

protected:
    // One tool run of a row and what its output has shown so far.
    struct RowRun {
        ToolProcess* process = nullptr;
        ToolErrorReport report;
        bool markerSeen = false;          // the stage's sign of success
        std::optional<std::string> gain;  // the peak stage's finding
        tool_output::LoudnessSummaries loudness;  // what the run's loudness meters reported
        bool again = false;  // set by finishRun: the row has a further run (its conversion)
    };

    // A fixed dialog of the given client size, centred, without title-bar buttons.
    // Runs still going when the dialog goes are killed with it (ToolProcess children).
    StageDialog(Tmain& main, const QString& name, int width, int height, QWidget* parent);

    // The stage's one-shot timer, off at start.
    QTimer* makeStageTimer(const QString& name, int intervalMs);

    // run_tool with the job's cancel flag, noted as running while it lasts (the one run of a
    // stage that works on the whole list).
    ToolRunResult runStageTool(const std::string& toolPath, const std::vector<std::string>& arguments,
                               const ToolRunner::LineHandler& onLine);

    // Starts rows while the job lets more run, then tells what is due.
    void startRows();

    // --- What a stage that runs a tool per row adds ---
    // Prepares the row (its tool arguments in main's tool_args); false when the row has
    // already ended (refused, or the job is to stop there).
    virtual bool prepareRow(int row);
    // One line of a row's run.
    virtual void handleLine(int row, RowRun& run, std::string_view line);
    // The verdict on a row's ended run, after whatever the stage keeps or removes of it.
    virtual stage_rules::RunVerdict finishRun(int row, RowRun& run, const ToolRunResult& result);
    // Removes what a cancelled run of the row was writing.
    virtual void discardRow(int row);
    // Every row has been told: the stage's next step.
    virtual void stageDone();

    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    Tmain& main_;

private:
    void startRun(int row);
    void runEnded(int row, const ToolRunResult& result);
    void rowEnded(int row, stage_rules::RunVerdict verdict);
    // Shows the ends due, in row order, and ends the stage once every row is told.
    void tellEnds();
    void showProgressCount();
    void cancelStage();

    std::map<int, RowRun> runs_;
    bool blockingRun_ = false;
    bool starting_ = false;
    bool telling_ = false;
};
