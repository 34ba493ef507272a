#include "base/ValueCorrections.h"

#include <algorithm>
#include <charconv>
#include <string>

namespace value_corrections {
namespace {

constexpr char16_t kBackspace = 8;
constexpr int kPercentMin = 0;
constexpr int kPercentMax = 1000;
constexpr double kGainMax = 100.0;

// Only ASCII digits: QChar::isDigit would let other scripts' digits through.
bool isAsciiDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

bool isAsciiLetter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z');
}

QString clampedPercentText(long long value)
{
    return QString::number(std::clamp<long long>(value, kPercentMin, kPercentMax));
}

}  // namespace

bool isPercentKey(QChar c)
{
    return isAsciiDigit(c) || c.unicode() == kBackspace;
}

bool isGainKey(QChar c)
{
    return isAsciiDigit(c) || c == u'-' || c == u'.' || c.unicode() == kBackspace;
}

bool isPrefixKey(QChar c)
{
    return isAsciiDigit(c) || isAsciiLetter(c) || c == u'-' || c == u'_'
        || c.unicode() == kBackspace;
}

int percentValue(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

QString stepPercent(const QString& text, int delta)
{
    return clampedPercentText(static_cast<long long>(percentValue(text)) + delta);
}

QString correctedPercentText(const QString& text)
{
    return clampedPercentText(percentValue(text));
}

bool readGainNumber(const QString& text, double* value)
{
    const qsizetype n = text.size();
    qsizetype i = 0;
    auto skipDigits = [&] {
        const qsizetype from = i;
        while (i < n && isAsciiDigit(text[i]))
            ++i;
        return i - from;
    };

    while (i < n && text[i] == u' ')
        ++i;
    // std::from_chars takes neither "+" nor a bare ".", so the number is rebuilt in a
    // plain form it reads; it also ignores the locale, unlike strtod.
    std::string plain;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        if (text[i] == u'-')
            plain += '-';
        ++i;
    }
    const qsizetype intStart = i;
    const qsizetype intDigits = skipDigits();
    plain += intDigits > 0 ? text.mid(intStart, intDigits).toStdString() : std::string("0");
    bool point = false;
    if (i < n && text[i] == u'.') {
        point = true;
        ++i;
        const qsizetype fracStart = i;
        const qsizetype fracDigits = skipDigits();
        if (fracDigits > 0)
            plain.append(".").append(text.mid(fracStart, fracDigits).toStdString());
    }
    if (intDigits == 0 && !point)
        return false;
    if (i < n && (text[i] == u'E' || text[i] == u'e')) {
        ++i;
        std::string exponent = "e";
        if (i < n && (text[i] == u'+' || text[i] == u'-')) {
            if (text[i] == u'-')
                exponent += '-';
            ++i;
        }
        const qsizetype expStart = i;
        const qsizetype expDigits = skipDigits();
        if (expDigits == 0)
            return false;
        plain += exponent + text.mid(expStart, expDigits).toStdString();
    }
    while (i < n && text[i] == u' ')
        ++i;
    if (i != n)
        return false;

    double parsed = 0;
    const auto result = std::from_chars(plain.data(), plain.data() + plain.size(), parsed);
    if (result.ec == std::errc::result_out_of_range) {
        // Far beyond any gain: only its side of 100 matters.
        const bool negativeMantissa = plain.front() == '-';
        const bool hugeExponent = plain.find("e-") == std::string::npos;
        parsed = hugeExponent ? (negativeMantissa ? -1e308 : 1e308) : 0.0;
    } else if (result.ec != std::errc()) {
        return false;
    }
    if (value)
        *value = parsed;
    return true;
}

QString correctedGainText(const QString& text)
{
    static const QString kZero = QStringLiteral("0.00");
    double value = 0;
    if (!readGainNumber(text, &value))
        return kZero;
    QString corrected = value > kGainMax ? QStringLiteral("100.00") : text;
    if (corrected.startsWith(u'.'))
        corrected = kZero;
    if (corrected.endsWith(u'.'))
        corrected.chop(1);
    if (!readGainNumber(corrected, nullptr))
        corrected = kZero;
    return corrected;
}

}  // namespace value_corrections
