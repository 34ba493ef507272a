#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>

// The Size and Time texts of the file list.
namespace list_texts {

// The size in units of 1,048,576 bytes, rounded to two decimals with ties to the even
// neighbour, in its shortest form (up to 15 significant digits, no trailing zeros) with the
// locale's decimal separator, followed by "MB": "3.4MB", "1MB", "0.01MB", "0MB".
QString sizeText(std::int64_t bytes, const QLocale& locale);

// "hh:mm:ss.mmm" from microseconds, with truncating whole-number division; the hours take
// as many digits as they need: 225500000 -> "00:03:45.500".
QString duration_text(std::int64_t microseconds);

}  // namespace list_texts
