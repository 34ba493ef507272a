#pragma once

#include "job/Job.h"

#include <QDialog>
#include <QPointer>

class QFont;
class QLabel;
class QProgressBar;
class QPushButton;

// What every stage dialog of a job shows: a status line, the progress of the whole list, which
// files are at work, and Cancel. It shows the stages of a job that are its own: it opens when
// one starts, follows its rows, and closes when it ends; Cancel, Esc and the window manager's
// close cancel the job.
class StageDialog : public QDialog {
    Q_OBJECT
public:
    QLabel* Label1;
    QProgressBar* progresstotal;  // 0..100
    QPushButton* Button1;         // "Cancel", also pressed by Esc
    QLabel* label_fileofcount;    // "File 3 of 12", left of Cancel

    // Shows which file of how many the stage is at (0-based index).
    void showFileOfCount(int fileIndex, int itemCount);

    // Follows this job from now on (until the next one).
    void follow(Job& job);
    // True while a stage of this dialog's has a tool at work.
    bool toolRunning() const;

public slots:
    // Cancels the job and closes the dialog.
    void Button1Click();

protected:
    // A fixed dialog of the given client size, centred, without title-bar buttons.
    StageDialog(const QString& name, int width, int height, const QFont& font, QWidget* parent);

    // Whether this dialog shows the stage.
    virtual bool shows(Job::Stage stage) const = 0;
    // What the dialog shows as a stage of its opens, beyond the bar and Cancel.
    virtual void stageOpening(Job::Stage) {}

    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    bool showing() const;
    void openStage(Job::Stage stage);
    void showRow(int row);
    void showProgress(int percent, const std::string& status);
    void showCount();

    QPointer<Job> job_;
    int titleRow_ = -1;  // the row named in the title
};
