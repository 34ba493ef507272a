#pragma once

#include "analysis/ToolRunner.h"

#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class Tmain;

// What every stage dialog of a job shows: a status line, the progress of the whole list and
// Cancel. Each stage adds its own timer, which runs the stage's work once per arming.
class StageDialog : public QDialog {
    Q_OBJECT
public:
    QLabel* Label1;
    QProgressBar* progresstotal;  // 0..100
    QPushButton* Button1;         // "Cancel", also pressed by Esc
    QLabel* label_fileofcount;    // "File 3 of 12", left of Cancel

    // Shows which file of how many the stage is at (0-based index).
    void showFileOfCount(int fileIndex, int itemCount);

    // True while the stage's tool runs; a quit then leaves the kill and the clean-up to the
    // run, which sees the cancel at its next turn.
    bool toolRunning() const { return toolRunning_; }

public slots:
    // Cancels the job and closes the dialog.
    void Button1Click();

protected:
    // A fixed dialog of the given client size, centred, without title-bar buttons.
    StageDialog(Tmain& main, const QString& name, int width, int height, QWidget* parent);

    // The stage's one-shot timer, off at start.
    QTimer* makeStageTimer(const QString& name, int intervalMs);

    // run_tool with the job's cancel flag, noted as running while it lasts.
    ToolRunResult runStageTool(const std::string& toolPath, const std::vector<std::string>& arguments,
                               const ToolRunner::LineHandler& onLine);

    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    Tmain& main_;

private:
    bool toolRunning_ = false;
};
