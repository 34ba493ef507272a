// Draws the program's pictures into the folder given as the only argument:
// splash.png (the start-up window), about.png (the About box) and peaks.jpg (the peak
// details dialog). Run once with QT_QPA_PLATFORM=offscreen; the results are kept in the
// repository beside this file.
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

namespace {

// A made-up piece of music: a few beating tones under a swelling envelope.
double loudnessAt(double t)
{
    const double pi = std::numbers::pi;
    const double tones = 0.55 * std::sin(2 * pi * 3.1 * t) + 0.3 * std::sin(2 * pi * 7.3 * t + 1.0)
        + 0.15 * std::sin(2 * pi * 17.9 * t + 2.0);
    const double envelope = 0.45 + 0.55 * std::pow(std::sin(pi * t), 0.7);
    return std::min(1.0, std::abs(tones) * envelope + 0.08);
}

std::vector<double> waveform(int columns)
{
    std::vector<double> levels(columns);
    for (int x = 0; x < columns; ++x)
        levels[x] = loudnessAt((x + 0.5) / columns);
    return levels;
}

// The columns of the three highest local maxima, at least minGap columns apart.
std::vector<int> highestPeaks(const std::vector<double>& levels, int minGap)
{
    std::vector<int> maxima;
    for (int x = 1; x + 1 < static_cast<int>(levels.size()); ++x) {
        if (levels[x] >= levels[x - 1] && levels[x] > levels[x + 1])
            maxima.push_back(x);
    }
    std::sort(maxima.begin(), maxima.end(), [&](int a, int b) { return levels[a] > levels[b]; });
    std::vector<int> chosen;
    for (int x : maxima) {
        const bool farEnough = std::all_of(chosen.begin(), chosen.end(),
                                           [&](int c) { return std::abs(c - x) >= minGap; });
        if (farEnough)
            chosen.push_back(x);
        if (chosen.size() == 3)
            break;
    }
    return chosen;
}

void fillDark(QPainter& p, const QRect& area)
{
    QLinearGradient background(area.topLeft(), area.bottomLeft());
    background.setColorAt(0, QColor(0x18, 0x1d, 0x2b));
    background.setColorAt(1, QColor(0x0b, 0x0e, 0x16));
    p.fillRect(area, background);
}

// The peak picture, 92 x 137: a wave's overview with its three highest peaks marked by red
// dots. Its top and bottom rows stay plain because the dialog's frame shows a little less
// than the full height.
QImage peakPicture()
{
    const int width = 92, height = 137, margin = 4;
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    fillDark(p, image.rect());

    const int columns = width - 2 * margin;
    const std::vector<double> levels = waveform(columns);
    const double centre = height / 2.0, half = 48;
    p.setPen(QPen(QColor(0x4a, 0x5a, 0x78), 1));
    p.drawLine(QPointF(margin, centre), QPointF(width - margin, centre));
    p.setPen(QPen(QColor(0x9c, 0xd8, 0xff), 1));
    for (int x = 0; x < columns; ++x) {
        const double a = levels[x] * half;
        p.drawLine(QPointF(margin + x + 0.5, centre - a), QPointF(margin + x + 0.5, centre + a));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xe8, 0x20, 0x20));
    for (int x : highestPeaks(levels, 10)) {
        const double a = levels[x] * half;
        p.drawEllipse(QPointF(margin + x + 0.5, centre - a - 2), 3.2, 3.2);
    }
    return image;
}

void drawBars(QPainter& p, const QRectF& area, int count, double level)
{
    const double step = area.width() / count;
    for (int i = 0; i < count; ++i) {
        const double raw = loudnessAt((i + 0.5) / count);
        // Loud bars come down and soft ones come up towards one level: the program's job.
        const double even = level + (raw - level) * 0.25;
        const double h = even * area.height();
        const QRectF bar(area.left() + i * step + step * 0.18, area.center().y() - h / 2,
                         step * 0.64, h);
        p.drawRoundedRect(bar, step * 0.2, step * 0.2);
    }
}

QImage aboutPicture()
{
    const int side = 96;
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath tile;
    tile.addRoundedRect(QRectF(2, 2, side - 4, side - 4), 18, 18);
    QLinearGradient background(0, 0, 0, side);
    background.setColorAt(0, QColor(0x2d, 0x6c, 0xdf));
    background.setColorAt(1, QColor(0x14, 0x2f, 0x7a));
    p.fillPath(tile, background);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xff, 0xff, 0xe6));
    drawBars(p, QRectF(14, 18, side - 28, side - 36), 9, 0.7);
    p.setPen(QPen(QColor(0xff, 0xc8, 0x3a), 2.5));
    p.drawLine(QPointF(10, side * 0.5), QPointF(side - 10, side * 0.5));
    return image;
}

QImage splashPicture()
{
    const int width = 398, height = 177;
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    fillDark(p, image.rect());

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3b, 0x7d, 0xf0, 0x90));
    drawBars(p, QRectF(200, 28, 180, 120), 18, 0.62);
    p.setPen(QPen(QColor(0xff, 0xc8, 0x3a), 2));
    p.drawLine(QPointF(196, 88), QPointF(384, 88));

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(38);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(0xf2, 0xf5, 0xfa));
    p.drawText(QRect(22, 40, 200, 50), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Auralon"));

    QFont subtitle(QStringLiteral("DejaVu Sans"));
    subtitle.setPixelSize(12);
    p.setFont(subtitle);
    p.setPen(QColor(0xa8, 0xb8, 0xd4));
    p.drawText(QRect(24, 92, 180, 40), Qt::AlignLeft | Qt::TextWordWrap,
               QStringLiteral("Even loudness for every file"));
    p.drawText(QRect(24, 146, 180, 20), Qt::AlignLeft, QStringLiteral("Starting..."));
    return image;
}

bool save(const QImage& image, const QString& path, const char* format, int quality = -1)
{
    if (image.save(path, format, quality))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_pictures <folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]) + u'/';
    const bool ok = save(splashPicture(), folder + "splash.png", "png")
        && save(aboutPicture(), folder + "about.png", "png")
        && save(peakPicture(), folder + "peaks.jpg", "jpeg", 90);
    return ok ? 0 : 1;
}
