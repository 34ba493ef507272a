#pragma once

#include "analysis/StageDialog.h"

class QTimer;

// The peak stage: measures the highest level of every file, one after another.
class Tdetectpeak : public StageDialog {
    Q_OBJECT
public:
    explicit Tdetectpeak(Tmain& main, QWidget* parent = nullptr);

    QTimer* timer_dodetect;  // 100 ms, off until the job arms it

public slots:
    // One converter run for the current file, then the job's next step.
    void timer_dodetectTimer();
};
