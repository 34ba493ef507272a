#include "base/ListTexts.h"

#include <cmath>

namespace list_texts {
namespace {

// Independent of the floating-point rounding mode currently set.
double roundHalfToEven(double x)
{
    const double down = std::floor(x);
    const double rest = x - down;
    if (rest > 0.5)
        return down + 1;
    if (rest < 0.5)
        return down;
    return std::fmod(down, 2.0) == 0.0 ? down : down + 1;
}

}  // namespace

QString sizeText(std::int64_t bytes, const QLocale& locale)
{
    double megabytes = roundHalfToEven(static_cast<double>(bytes) / 1024 / 10.24) / 100;
    if (megabytes == 0)
        megabytes = 0;  // no "-0" for a tiny negative size
    // Only the separator comes from the locale: no digit grouping, no native digits.
    QString text = QLocale::c().toString(megabytes, 'g', 15);
    text.replace(u'.', locale.decimalPoint());
    return text + QStringLiteral("MB");
}

QString duration_text(std::int64_t microseconds)
{
    const long long t = microseconds;
    const long long hours = t / 1000000 / 60 / 60;
    const long long minutes = (t / 1000000 / 60) % 60;
    const long long seconds = (t / 1000000) % 60;
    const long long milliseconds = (t % 1000000) * 1000 / 1000000;
    return QString::asprintf("%.2lld:%.2lld:%.2lld.%.3lld", hours, minutes, seconds, milliseconds);
}

}  // namespace list_texts
