#pragma once

#include "analysis/StageDialog.h"

class QTimer;

// The WAV-extraction and conversion stage: runs the converter once per file.
class Tbatchaudioc : public StageDialog {
    Q_OBJECT
public:
    explicit Tbatchaudioc(Tmain& main, QWidget* parent = nullptr);

    QTimer* timer_doconvert;  // 2 ms, off until the job arms it

public slots:
    // One converter run for the current file, then the job's next step.
    void timer_doconvertTimer();
};
