#pragma once

#include <QChar>
#include <QString>

// How the typed values of the volume and options fields are filtered and corrected.
namespace value_corrections {

// The keys each field lets through while typing; QChar(8) is Backspace.
bool isPercentKey(QChar c);  // "0"-"9", Backspace
bool isGainKey(QChar c);     // "0"-"9", "-", ".", Backspace
bool isPrefixKey(QChar c);   // "0"-"9", "A"-"Z", "a"-"z", "-", "_", Backspace

// The percentage as a whole number, 0 when the text is not one; not clamped.
int percentValue(const QString& text);

// Up/Down: the value plus delta, kept within 0..1000, as decimal text.
QString stepPercent(const QString& text, int delta);

// On leaving the percentage field: the decimal form of its value ("0050" -> "50",
// "" -> "0"), then kept within 0..1000 ("5000" -> "1000").
QString correctedPercentText(const QString& text);

// True when the text is a decimal number with "." as the point whatever the locale:
// optional leading blanks, optional "+"/"-", digits, optionally "." and more digits (the
// digits on either side of a present point may be missing, so "." reads as 0), optionally
// "E"/"e" with an optional sign and digits, optional trailing blanks, nothing else.
// value (may be null) receives the number.
bool readGainNumber(const QString& text, double* value);

// On leaving the gain field, in this order:
//  1. a text that is not a number (readGainNumber) becomes "0.00" and nothing else is done;
//     a number above 100 becomes "100.00";
//  2. a text starting with "." becomes "0.00";
//  3. a trailing "." is removed;
//  4. a text that then no longer reads as a number ("-" left from "-.") becomes "0.00",
//     because the converter refuses such a gain for every file of the job.
// Otherwise the text keeps its own form: no lower limit, "3" stays "3", "-9999" stays.
QString correctedGainText(const QString& text);

}  // namespace value_corrections
