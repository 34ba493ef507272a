#include "base/ListTexts.h"
#include "base/ValueCorrections.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <QString>

#include <clocale>
#include <cstdint>
#include <string>

using namespace value_corrections;

namespace {

std::string str(const QString& text)
{
    return text.toStdString();
}

}  // namespace

TEST(ValueRules, KeysEachFieldLetsThrough)
{
    struct Row {
        QChar key;
        bool percent, gain, prefix;
    };
    const Row rows[] = {
        {u'0', true, true, true},       {u'9', true, true, true},
        {QChar(8), true, true, true},   {u'-', false, true, true},
        {u'.', false, true, false},     {u'_', false, false, true},
        {u'a', false, false, true},     {u'Z', false, false, true},
        {u' ', false, false, false},    {u'+', false, false, false},
        {u',', false, false, false},    {u'e', false, false, true},
        {QChar(0x16), false, false, false},  // Ctrl+V
        {QChar(0x7f), false, false, false},  // Delete as a character
        {QChar(9), false, false, false},     // Tab
        {QChar(0x0663), false, false, false},  // ARABIC-INDIC DIGIT THREE
        {QChar(0x00e9), false, false, false},  // e with acute
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.key.unicode()));
        EXPECT_EQ(isPercentKey(row.key), row.percent);
        EXPECT_EQ(isGainKey(row.key), row.gain);
        EXPECT_EQ(isPrefixKey(row.key), row.prefix);
    }
}

TEST(ValueRules, GainCorrectionOnLeaving)
{
    const std::pair<const char*, const char*> rows[] = {
        // kept as typed
        {"0.00", "0.00"}, {"3", "3"}, {"2.5", "2.5"}, {"100", "100"}, {"-20", "-20"},
        {"-9999", "-9999"}, {"-.5", "-.5"}, {"100.0", "100.0"}, {"1e2", "1e2"},
        {" 7 ", " 7 "}, {"+4", "+4"},
        // above 100
        {"150", "100.00"}, {"100.01", "100.00"}, {"1e3", "100.00"}, {"1e999", "100.00"},
        // leading or trailing point
        {".5", "0.00"}, {".", "0.00"}, {"5.", "5"}, {"-5.", "-5"},
        // not numbers
        {"", "0.00"}, {"-", "0.00"}, {"1.2.3", "0.00"}, {"5-", "0.00"}, {"--5", "0.00"},
        {"1e", "0.00"}, {"abc", "0.00"}, {"1,5", "0.00"}, {"nan", "0.00"}, {"inf", "0.00"},
        // still no number after the point is removed: the converter would refuse it
        {"-.", "0.00"}, {"+.", "0.00"}, {" .", "0.00"},
    };
    for (const auto& [typed, expected] : rows) {
        SCOPED_TRACE(typed);
        EXPECT_EQ(str(correctedGainText(QString::fromLatin1(typed))), expected);
    }
}

TEST(ValueRules, GainNumberGrammarIgnoresTheLocale)
{
    QLocale::setDefault(QLocale(QLocale::German));
    std::setlocale(LC_ALL, "de_DE.UTF-8");  // in case the machine has it
    double value = 0;
    ASSERT_TRUE(readGainNumber(QStringLiteral("-2.75"), &value));
    EXPECT_DOUBLE_EQ(value, -2.75);
    ASSERT_TRUE(readGainNumber(QStringLiteral("  .E-3 "), &value));
    EXPECT_DOUBLE_EQ(value, 0.0);
    ASSERT_TRUE(readGainNumber(QStringLiteral("12e-1"), &value));
    EXPECT_DOUBLE_EQ(value, 1.2);
    EXPECT_FALSE(readGainNumber(QStringLiteral("2,75"), &value));
    std::setlocale(LC_ALL, "C");
    QLocale::setDefault(QLocale::c());
}

TEST(ValueRules, PercentValueCorrectionAndStepping)
{
    struct Row {
        const char* text;
        int value;
        const char* corrected;
        const char* up;
        const char* down;
    };
    const Row rows[] = {
        {"100", 100, "100", "101", "99"},
        {"0050", 50, "50", "51", "49"},
        {"", 0, "0", "1", "0"},
        {"0", 0, "0", "1", "0"},
        {"5000", 5000, "1000", "1000", "1000"},
        {"9999", 9999, "1000", "1000", "1000"},
        {"1000", 1000, "1000", "1000", "999"},
        {"-5", -5, "0", "0", "0"},
        {"abc", 0, "0", "1", "0"},
        {"99999999999", 0, "0", "1", "0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const QString text = QString::fromLatin1(row.text);
        EXPECT_EQ(percentValue(text), row.value);
        EXPECT_EQ(str(correctedPercentText(text)), row.corrected);
        EXPECT_EQ(str(stepPercent(text, 1)), row.up);
        EXPECT_EQ(str(stepPercent(text, -1)), row.down);
    }
    EXPECT_EQ(str(stepPercent(QStringLiteral("2147483647"), 1)), "1000");
}

TEST(ValueRules, SizeText)
{
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QLocale german(QLocale::German, QLocale::Germany);
    const std::pair<std::int64_t, const char*> rows[] = {
        {1048576, "1MB"},       {3565158, "3.4MB"},    {10486, "0.01MB"},
        {5000, "0MB"},          {0, "0MB"},            {-1, "0MB"},
        // exact halves go to the even neighbour: 12.5 -> 12, 37.5 -> 38 hundredths
        {131072, "0.12MB"},     {393216, "0.38MB"},
        // no digit grouping
        {10737418240, "10240MB"}, {1234567890123, "1177375.69MB"},
    };
    for (const auto& [bytes, expected] : rows) {
        SCOPED_TRACE(bytes);
        EXPECT_EQ(str(list_texts::sizeText(bytes, english)), expected);
    }
    EXPECT_EQ(str(list_texts::sizeText(3565158, german)), "3,4MB");
    EXPECT_EQ(str(list_texts::sizeText(1234567890123, german)), "1177375,69MB");
    EXPECT_EQ(str(list_texts::sizeText(1048576, german)), "1MB");
}

TEST(ValueRules, DurationText)
{
    const std::pair<std::int64_t, const char*> rows[] = {
        {225500000, "00:03:45.500"},     {3599999999, "00:59:59.999"},
        {90061001999, "25:01:01.001"},   {1, "00:00:00.000"},
        {999, "00:00:00.000"},           {1000, "00:00:00.001"},
        {3600000000, "01:00:00.000"},    {360000000000000, "100000:00:00.000"},
    };
    for (const auto& [microseconds, expected] : rows) {
        SCOPED_TRACE(microseconds);
        EXPECT_EQ(str(list_texts::duration_text(microseconds)), expected);
    }
}
