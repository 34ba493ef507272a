#pragma once

#include <QDialog>

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

public slots:
    // Cancels the job and closes the dialog.
    void Button1Click();

protected:
    // A fixed dialog of the given client size, centred, without title-bar buttons.
    StageDialog(Tmain& main, const QString& name, int width, int height, QWidget* parent);

    // The stage's one-shot timer, off at start.
    QTimer* makeStageTimer(const QString& name, int intervalMs);

    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    Tmain& main_;
};
