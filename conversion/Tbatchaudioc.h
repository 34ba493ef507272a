#pragma once

#include "analysis/StageDialog.h"

class QTimer;

// The WAV-extraction and conversion stage: runs the converter for every row, up to the job's
// limit at once.
class Tbatchaudioc : public StageDialog {
    Q_OBJECT
public:
    explicit Tbatchaudioc(Tmain& main, QWidget* parent = nullptr);

    QTimer* timer_doconvert;  // 2 ms, off until the job arms it

public slots:
    // Starts the first converter runs; each run that ends starts the next row.
    void timer_doconvertTimer();

protected:
    bool prepareRow(int row) override;
    void handleLine(int row, RowRun& run, std::string_view line) override;
    stage_rules::RunVerdict finishRun(int row, RowRun& run, const ToolRunResult& result) override;
    void discardRow(int row) override;
    void stageDone() override;

private:
    bool towav() const;
};
