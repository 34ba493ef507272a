#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class Tmain;

// A stage dialog of a job: status line, progress of the whole list, Cancel. The stage's
// work runs from its timer, which is off until the job arms it.
class Tdetectpeak : public QDialog {
    Q_OBJECT
public:
    explicit Tdetectpeak(Tmain& main, QWidget* parent = nullptr);

    QLabel* Label1;
    QProgressBar* progresstotal;  // 0..100
    QPushButton* Button1;         // "Cancel", also pressed by Esc
    QTimer* timer_dodetect;               // 100 ms, off at start

public slots:
    // Cancels the job and closes the dialog.
    void Button1Click();
    // One tool run for the current file (the whole list for the normaliser), then the
    // job's next step.
    void timer_dodetectTimer();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    Tmain& main_;
};
