#pragma once

#include <QDialog>

class LoudnessCheck;
class QLabel;
class QPushButton;
class QTableView;
class ReportChart;
class ReportTableModel;
class Tmain;

// The "Loudness Report" window: the main window's last measuring (an analysis, or the judging
// of its last job) as a table and a chart, "Analyze" to measure the list and plan it with the
// current mode and settings, and "Export..." to CSV or JSON. It shows the engine's records
// and keeps no state of its own.
class ReportWindow : public QDialog {
    Q_OBJECT
public:
    explicit ReportWindow(Tmain& main);

    QTableView* table;
    ReportTableModel* model;
    ReportChart* chart;
    QPushButton* btn_analyze;
    QPushButton* btn_export;
    QLabel* label_status;

private:
    // Shows this check (null: none) and follows what it tells.
    void watch(const LoudnessCheck* check);
    void refresh();
    void exportReport();

    Tmain& main_;
    const LoudnessCheck* check_ = nullptr;
};
