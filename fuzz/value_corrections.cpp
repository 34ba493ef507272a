// The corrections of the gain and percentage fields when they are left, for any text,
// whether typed through the key filter or not.
#include "FuzzCheck.h"

#include "base/ValueCorrections.h"

#include <QString>

#include <cmath>
#include <cstdint>
#include <cstring>

using namespace value_corrections;

namespace {

// Bytes as UTF-8 (odd first byte) or as raw UTF-16 units, unpaired surrogates included.
QString textOf(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return {};
    if (data[0] & 1)
        return QString::fromUtf8(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    QString text;
    for (std::size_t i = 1; i + 1 < size; i += 2)
        text += QChar(static_cast<char16_t>(data[i] | data[i + 1] << 8));
    return text;
}

// What typing the text into a field with this key filter leaves (Backspace is a key,
// not a character of the text).
QString typed(const QString& text, bool (*allowed)(QChar))
{
    QString kept;
    for (QChar c : text)
        if (allowed(c) && c.unicode() != 8)
            kept += c;
    return kept;
}

void checkGain(const QString& text)
{
    const QString corrected = correctedGainText(text);
    // What the converter gets is a number, never above the top of the range.
    double value = NAN;
    FUZZ_CHECK(readGainNumber(corrected, &value));
    FUZZ_CHECK(std::isfinite(value) && value <= 100.0);
    FUZZ_CHECK(!corrected.startsWith(u'.') && !corrected.endsWith(u'.'));
    for (QChar c : corrected)
        FUZZ_CHECK(c.unicode() < 0x80 && c.unicode() >= 0x20);
    FUZZ_CHECK(correctedGainText(corrected) == corrected);
    double original = NAN;
    if (readGainNumber(text, &original))
        FUZZ_CHECK(std::isfinite(original));
    else
        FUZZ_CHECK(corrected == QStringLiteral("0.00"));
}

void checkPercent(const QString& text)
{
    const QString corrected = correctedPercentText(text);
    const int value = percentValue(corrected);
    FUZZ_CHECK(value >= 0 && value <= 1000);
    FUZZ_CHECK(corrected == QString::number(value));
    FUZZ_CHECK(correctedPercentText(corrected) == corrected);
    for (int delta : {-1, 1, -1000000, 1000000}) {
        const int stepped = percentValue(stepPercent(text, delta));
        FUZZ_CHECK(stepped >= 0 && stepped <= 1000);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = textOf(data, size);
    checkGain(text);
    checkGain(typed(text, isGainKey));
    checkPercent(text);
    checkPercent(typed(text, isPercentKey));
    return 0;
}
