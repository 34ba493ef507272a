#include "media/FFErrorText.h"
#include "media/FFmpegHeaders.h"
#include "media/ProbeRules.h"

#include <gtest/gtest.h>

using namespace probe_rules;

TEST(ErrorText, CoversFFmpegPosixAndSocketCodes)
{
    struct Row {
        int code;
        const char* text;
    } rows[] = {
        {AVERROR_EOF, "End of file"},
        {AVERROR_EXIT, "Immediate exit requested"},
        {AVERROR_BUG2, "Internal bug, should not have happened"},
        {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
        {AVERROR_EXPERIMENTAL,
         "Requested feature is flagged experimental. Set strict_std_compliance if you really want "
         "to use it."},
        {AVERROR(ENOENT), "No such file or directory"},
        {AVERROR(EINVAL), "Invalid argument / Invalid data found when processing input"},
        {-40, "Too many symbolic links encountered"},
        {-43, "Identifier removed"},
        {-131, "State not recoverable"},
        {-10004, "Interrupted function call"},
        {-10038, "Socket operation on non-socket"},
        {-10061, "Connection refused"},
        {-10071, "Object is remote"},
        {-10035, "WSAEWOULDBLOCK"},
        {-11004, "WSANO_DATA"},
        // Gaps in the tables and codes FFmpeg has added since.
        {-41, "Error number -41 occurred"},
        {-58, "Error number -58 occurred"},
        {-132, "Error number -132 occurred"},
        {-10090, "Error number -10090 occurred"},
        {0, "Error number 0 occurred"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ff_error_text::errorText(row.code), row.text) << row.code;
    EXPECT_EQ(ff_error_text::errorText(AVERROR_HTTP_NOT_FOUND),
              "Error number " + std::to_string(AVERROR_HTTP_NOT_FOUND) + " occurred");
}

TEST(IoWatch, AbortsOnlyWhenArmedAndPastTheLimit)
{
    struct Row {
        std::int64_t start;
        std::int32_t timeoutMs;
        std::int64_t now;
        bool expired;
    } rows[] = {
        {1'000'000, 30000, 1'000'000 + 30'000'000, false},  // exactly at the limit
        {1'000'000, 30000, 1'000'000 + 30'000'001, true},
        {1'000'000, 0, 99'000'000'000, false},
        {1'000'000, -5, 99'000'000'000, false},
        {kWatchDisarmed, 30000, kWatchDisarmed, false},
        {0, 1, 1'001, true},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ioWatchExpired(row.start, row.timeoutMs, row.now), row.expired)
            << row.start << " " << row.timeoutMs << " " << row.now;
}

TEST(TagInteger, AcceptsWholeDecimalNumbersOnly)
{
    struct Row {
        const char* text;
        std::int32_t value;
    } rows[] = {{"2004", 2004}, {" 7 ", 7}, {"-3", -3}, {"3/12", 0}, {"", 0}, {"12a", 0},
                {"0x10", 0},    {"99999999999", 0}};
    for (const Row& row : rows)
        EXPECT_EQ(tagInteger(row.text), row.value) << row.text;
}

TEST(CodecNameText, NamesDecoderTransportStreamOrTag)
{
    const std::uint32_t divx = MKTAG('D', 'I', 'V', 'X');
    struct Row {
        const char* name;
        const char* longName;
        int codecId;
        std::uint32_t tag;
        const char* text;
    } rows[] = {
        {"flac", "  FLAC (Free Lossless Audio Codec) ", AV_CODEC_ID_FLAC, 0,
         "flac(FLAC (Free Lossless Audio Codec))"},
        {"raw", "   ", AV_CODEC_ID_NONE, 0, "raw"},
        {"raw", nullptr, AV_CODEC_ID_NONE, 0, "raw"},
        {nullptr, nullptr, AV_CODEC_ID_MPEG2TS, divx, "mpeg2ts"},
        {nullptr, nullptr, AV_CODEC_ID_NONE, divx, "DIVX / 0x58564944"},
        {nullptr, nullptr, AV_CODEC_ID_NONE, MKTAG('D', 'I', 'V', 0x7F), "0x7f564944"},
        {nullptr, nullptr, AV_CODEC_ID_NONE, 1, "0x0001"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(codecNameText(row.name, row.longName, row.codecId, row.tag), row.text);
}

TEST(ReadsOtherSources, PlaylistsAndDescriptionsByAnyOfTheirNames)
{
    for (const char* referring : {"hls", "concat", "dash", "sdp", "imf", "mov,hls", "applehttp,x"})
        EXPECT_TRUE(probe_rules::readsOtherSources(referring)) << referring;
    for (const char* plain : {"mov,mp4,m4a,3gp,3g2,mj2", "mp3", "wav", "", "hlsx", "xconcat,", ","})
        EXPECT_FALSE(probe_rules::readsOtherSources(plain)) << plain;
}
