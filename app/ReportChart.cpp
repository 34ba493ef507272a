#include "app/ReportChart.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kBarHeight = 8;   // before, then after below it
constexpr int kRowHeight = 2 * kBarHeight + 6;
constexpr int kMargin = 8;
constexpr double kStepLu = 10;  // the scale's ends are whole tens of LU

std::optional<double> finiteLoudness(const std::optional<Measurement>& m)
{
    return m && std::isfinite(m->integratedLufs) ? std::optional<double>(m->integratedLufs) : std::nullopt;
}

}  // namespace

ReportChart::ReportChart(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ReportChart"));
    setMinimumWidth(220);
}

ReportChart::Items ReportChart::itemsOf(const LoudnessReport& report)
{
    Items items;
    const bool rms = conversion_command::isRmsMode(report.settings.mode);
    if (report.settings.mode == conversion_command::VolumeMode::RmsSingularly
        || report.settings.mode == conversion_command::VolumeMode::RmsCollectively)
        items.targetLufs = report.settings.targetLufs;
    else if (rms && report.sets.size() == 1)  // sets by folder have no one level
        items.targetLufs = report.sets.front().loudnessLufs;
    double low = items.targetLufs.value_or(-20), high = low;
    for (const LoudnessReport::Row& row : report.rows) {
        Bar bar{finiteLoudness(row.before), finiteLoudness(row.after), row.plan.limited || row.plan.peakLimited};
        for (const std::optional<double>& v : {bar.before, bar.after})
            if (v) {
                low = std::min(low, *v);
                high = std::max(high, *v);
            }
        items.bars.push_back(bar);
    }
    items.lowLufs = std::floor(low / kStepLu) * kStepLu - kStepLu;
    items.highLufs = std::min(0.0, std::ceil(high / kStepLu) * kStepLu);
    if (items.highLufs <= items.lowLufs)
        items.highLufs = items.lowLufs + kStepLu;
    return items;
}

void ReportChart::show(const LoudnessReport* report)
{
    report_ = report;
    updateGeometry();
    update();
}

QSize ReportChart::sizeHint() const
{
    const int rows = report_ ? static_cast<int>(report_->rows.size()) : 0;
    return {320, 2 * kMargin + 16 + rows * kRowHeight};
}

void ReportChart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    if (!report_)
        return;
    const Items items = itemsOf(*report_);
    const QRectF area = QRectF(rect()).adjusted(kMargin, kMargin, -kMargin, -kMargin - 16);
    auto x = [&](double lufs) {
        return area.left() + (lufs - items.lowLufs) / (items.highLufs - items.lowLufs) * area.width();
    };
    // The scale: a tick every 10 LU, labelled below.
    p.setPen(palette().color(QPalette::Mid));
    for (double v = items.lowLufs; v <= items.highLufs + 1e-9; v += kStepLu) {
        p.drawLine(QPointF(x(v), area.top()), QPointF(x(v), area.bottom()));
        p.drawText(QRectF(x(v) - 20, area.bottom() + 2, 40, 14), Qt::AlignCenter, QString::number(v, 'f', 0));
    }
    for (std::size_t i = 0; i < items.bars.size(); ++i) {
        const Bar& bar = items.bars[i];
        const double top = area.top() + static_cast<double>(i) * kRowHeight;
        if (bar.before)
            p.fillRect(QRectF(area.left(), top, x(*bar.before) - area.left(), kBarHeight), QColor(150, 150, 150));
        if (bar.after)
            p.fillRect(QRectF(area.left(), top + kBarHeight, x(*bar.after) - area.left(), kBarHeight),
                       QColor(40, 110, 200));
        if (bar.heldBack) {
            // A red triangle where the file ends up: the ceiling held it there.
            const double at = x(bar.after.value_or(bar.before.value_or(items.lowLufs)));
            QPainterPath mark;
            mark.moveTo(at, top + kBarHeight);
            mark.lineTo(at + 6, top + kBarHeight - 6);
            mark.lineTo(at + 6, top + kBarHeight + 6);
            mark.closeSubpath();
            p.fillPath(mark, Qt::red);
        }
    }
    if (items.targetLufs) {
        p.setPen(QPen(Qt::darkGreen, 2, Qt::DashLine));
        p.drawLine(QPointF(x(*items.targetLufs), area.top()), QPointF(x(*items.targetLufs), area.bottom()));
    }
}
