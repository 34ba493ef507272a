#pragma once

#include "job/JobSettings.h"
#include "tools/ToolContracts.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

// The Options dialog: the prefix put in front of every output file's name, the loudness the
// RMS modes aim for, how many files a stage works on at once, whether files that are nearly
// right are left as they are, whether each folder is an album of its own, what a job writes
// and whether its outputs are checked. There is no Cancel: whatever
// the controls hold when the dialog closes, by "OK" or by the close box, holds from then on,
// while the program runs.
class Toptions : public QDialog {
    Q_OBJECT
public:
    explicit Toptions(QWidget* parent = nullptr);

    QPushButton* Button1;
    QLabel* Label1;
    QLineEdit* ed_prefix;
    QLabel* Label2;
    QComboBox* cb_loudnesstarget;  // the items of tool_contracts::kLoudnessTargets, in order
    QCheckBox* cbk_limitpeaks;
    QFrame* Bevel1;
    QLabel* label_filesatonce;
    QSpinBox* spin_filesatonce;  // 1..the usable cores, at first the default of run_limit
    // Rows whose level would change by less than kLeaveUnchangedDb are copied as they are.
    QCheckBox* cbk_leaveunchanged;
    static constexpr double kLeaveUnchangedDb = 0.5;
    // The sets of the album and average modes: "Album: the whole list" or "Album: each folder".
    QComboBox* cb_albumsets;
    // What a job writes: its items are "Adjusted audio" and "Loudness tags only (audio
    // untouched)", in the order of JobSettings::Writing; told by writingChosen.
    QComboBox* cb_writing;
    // Each output is measured and judged against its promise as the job's last stage.
    QCheckBox* cbk_checkoutputs;

    // The choice of cb_albumsets, for JobSettings::groupByFolder.
    bool groupByFolder() const;

    // The target and limiter choice of the controls (lossyOutput left false).
    tool_contracts::NormalizerLevels normalizerLevels() const;

signals:
    void writingChosen(JobSettings::Writing writing);

public slots:
    void Button1Click();
};
