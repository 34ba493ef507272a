#pragma once

#include "report/LoudnessReport.h"

#include <QWidget>

#include <optional>
#include <vector>

// The files' loudness drawn: one horizontal bar per file for its loudness before and, once
// judged, after the job, a line at the target and a mark where the ceiling held a file back
// (its gain lowered or its peaks limited). It draws the report it is given and keeps nothing.
class ReportChart : public QWidget {
    Q_OBJECT
public:
    struct Bar {
        std::optional<double> before;  // LUFS; none when unknown or silent
        std::optional<double> after;
        bool heldBack = false;
    };
    // What is drawn, from left (lowLufs) to right (highLufs).
    struct Items {
        std::vector<Bar> bars;              // one per file, in order
        std::optional<double> targetLufs;   // the RMS modes' target, or the set's level
        double lowLufs = -40;
        double highLufs = 0;
    };

    explicit ReportChart(QWidget* parent = nullptr);

    static Items itemsOf(const LoudnessReport& report);

    // Null: nothing drawn.
    void show(const LoudnessReport* report);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const LoudnessReport* report_ = nullptr;
};
