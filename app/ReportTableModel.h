#pragma once

#include "report/LoudnessReport.h"

#include <QAbstractTableModel>

// The loudness report as a table: one row per file, then a row for each set in the modes that
// have one (named by its folder's name when each folder is a set, the whole folder its tip). It shows the report it is given and keeps nothing of it; refresh() after the
// report has changed.
class ReportTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { File, Loudness, Range, TruePeak, Gain, LimitedBy, AfterLoudness, AfterTruePeak, Verdict, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    // Null: an empty table.
    void show(const LoudnessReport* report);
    void refresh();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QString fileCell(std::size_t row, int column, int role) const;

    const LoudnessReport* report_ = nullptr;
};
