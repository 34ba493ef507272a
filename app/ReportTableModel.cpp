#include "app/ReportTableModel.h"

#include <QColor>

#include <cmath>

namespace {

// A figure as the table shows it: two decimals, "-inf" for silence, empty when unknown.
QString level(std::optional<double> value)
{
    if (!value || std::isnan(*value))
        return {};
    if (std::isinf(*value))
        return *value < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
    return QString::number(*value, 'f', 2);
}

template <typename Figure>
std::optional<double> of(const std::optional<Measurement>& m, Figure figure)
{
    return m ? std::optional<double>((*m).*figure) : std::nullopt;
}

QString setName(conversion_command::VolumeMode mode)
{
    switch (mode) {
    case conversion_command::VolumeMode::RmsCollectively: return QStringLiteral("Album");
    case conversion_command::VolumeMode::RmsWeighted: return QStringLiteral("Weighted average");
    default: return QStringLiteral("Arithmetic average");
    }
}

}  // namespace

void ReportTableModel::show(const LoudnessReport* report)
{
    beginResetModel();
    report_ = report;
    endResetModel();
}

void ReportTableModel::refresh()
{
    show(report_);
}

int ReportTableModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !report_)
        return 0;
    return static_cast<int>(report_->rows.size() + report_->sets.size());
}

int ReportTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ReportTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const names[ColumnCount] = {"File", "Loudness", "Range", "True Peak", "Gain", "Limited by",
                                                   "Loudness after", "True Peak after", "Result"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(names[section]) : QVariant();
}

QVariant ReportTableModel::data(const QModelIndex& index, int role) const
{
    if (!report_ || !index.isValid())
        return {};
    const std::size_t row = static_cast<std::size_t>(index.row());
    if (row >= report_->rows.size()) {  // a set
        const loudness_plan::Set& set = report_->sets.at(row - report_->rows.size());
        const QString folder = QString::fromStdString(set.group);
        if (role == Qt::ToolTipRole && index.column() == File)
            return folder;
        if (role != Qt::DisplayRole)
            return {};
        if (index.column() == File)
            return folder.isEmpty() ? setName(report_->settings.mode)
                                    : setName(report_->settings.mode) + QStringLiteral(": ") + folder.section(QLatin1Char('/'), -1);
        return index.column() == Loudness ? level(set.loudnessLufs) : QString();
    }
    const LoudnessReport::Row& r = report_->rows.at(row);
    if (role == Qt::ForegroundRole && index.column() == Verdict && r.verdict)
        return QColor(r.verdict->pass ? Qt::darkGreen : Qt::red);
    if (role == Qt::ToolTipRole)
        return QString::fromStdString(!r.error.empty()                      ? r.error
                                      : r.verdict && !r.verdict->pass       ? r.verdict->reason
                                                                            : r.plan.note);
    if (role == Qt::TextAlignmentRole)
        return index.column() == File ? QVariant() : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    return fileCell(row, index.column(), role);
}

QString ReportTableModel::fileCell(std::size_t row, int column, int) const
{
    const LoudnessReport::Row& r = report_->rows[row];
    switch (column) {
    case File: return QString::fromStdString(r.file).section(QLatin1Char('/'), -1);
    case Loudness: return level(of(r.before, &Measurement::integratedLufs));
    case Range: return level(of(r.before, &Measurement::rangeLu));
    case TruePeak: return level(of(r.before, &Measurement::truePeakDbtp));
    case Gain: return r.plan.planned ? level(r.plan.gainDb) : QString();
    case LimitedBy: return r.plan.limited ? level(r.plan.limitedByDb) : r.plan.peakLimited ? QStringLiteral("gain") : QString();
    case AfterLoudness: return level(of(r.after, &Measurement::integratedLufs));
    case AfterTruePeak: return level(of(r.after, &Measurement::truePeakDbtp));
    case Verdict:
        if (r.leftUnchanged)
            return QStringLiteral("left unchanged");
        if (r.verdict)
            return r.verdict->pass ? QStringLiteral("\u2714 pass") : QStringLiteral("\u2718 miss");
        return r.error.empty() ? QString() : QStringLiteral("error");
    default: return {};
    }
}
