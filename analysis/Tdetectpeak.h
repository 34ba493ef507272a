#pragma once

#include "analysis/StageDialog.h"

class QTimer;

// The peak stage: measures the highest level of every file, up to the job's limit at once.
class Tdetectpeak : public StageDialog {
    Q_OBJECT
public:
    explicit Tdetectpeak(Tmain& main, QWidget* parent = nullptr);

    QTimer* timer_dodetect;  // 100 ms, off until the job arms it

public slots:
    // Starts the first converter runs; each run that ends starts the next row.
    void timer_dodetectTimer();

protected:
    bool prepareRow(int row) override;
    void handleLine(int row, RowRun& run, std::string_view line) override;
    stage_rules::RunVerdict finishRun(int row, RowRun& run, const ToolRunResult& result) override;
    void stageDone() override;
};
