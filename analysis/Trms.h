#pragma once

#include "analysis/StageDialog.h"

class QTimer;

// The RMS stage: one normaliser run over every WAV copy of the job.
class Trms : public StageDialog {
    Q_OBJECT
public:
    explicit Trms(Tmain& main, QWidget* parent = nullptr);

    QTimer* timer_dorms;  // 2 ms, off until the job arms it

public slots:
    // One normaliser run over the whole list, then the job's next step.
    void timer_dormsTimer();
};
