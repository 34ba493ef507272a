#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class QFileDialog;
class QMainWindow;
class QMessageBox;

// Works the program's windows from inside its process, as a person would, and appends what
// it sees to a result file that the test reads. Set up through the environment:
//   AURALON_DRIVER_RESULT  the result file
//   AURALON_DRIVER_MODE    "idle": report the window and wait; "gain": a -6 dB job;
//                          "rms": a Singularly (Track Gain) job
//   AURALON_DRIVER_ROWS    how many rows the command line should have put in the list
//   AURALON_DRIVER_OUTPUT  the folder to answer the output folder chooser with
// Result lines: "row: <caption>" for each row, "icon: set" or "icon: none", "ready", "folder chooser: <title>",
// "chosen: <folder>", "message: <caption>|<text>", "closing".
class WindowDriver : public QObject {
    Q_OBJECT
public:
    // Deleted by the application as it ends, when qApp is no longer there to call.
    WindowDriver();

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void poll();
    QMainWindow* mainWindow() const;
    bool listReady(QMainWindow& window) const;
    void startJob(QMainWindow& window);
    void answerFolderChooser(QFileDialog& dialog);
    void answerMessage(QMessageBox& box);
    void note(const QString& line) const;

    QTimer poll_;
    QString result_;
    QString mode_;
    QString output_;
    int rows_ = 0;
    bool ready_ = false;
};
