#include "conversion/ConversionCommand.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using namespace conversion_command;
using testsupport::TempDir;
using Args = std::vector<std::string>;

namespace {

// Words of a pattern; "<SRC>", "<WAV>" and "<OUT>" stand for the source, the WAV copy and the
// written file, "<NOTAGS>" for the removal of the loudness tags.
Args expand(const std::string& pattern, const std::string& src, const std::string& wav, const std::string& out)
{
    const char* tags[] = {"REPLAYGAIN_TRACK_GAIN", "REPLAYGAIN_TRACK_PEAK", "REPLAYGAIN_ALBUM_GAIN",
                          "REPLAYGAIN_ALBUM_PEAK", "R128_TRACK_GAIN",       "R128_ALBUM_GAIN"};
    Args args;
    std::istringstream words(pattern);
    for (std::string w; words >> w;) {
        if (w == "<NOTAGS>") {
            for (const char* option : {"-metadata", "-metadata:s:a:0"})
                for (const char* tag : tags)
                    args.insert(args.end(), {option, std::string(tag) + "="});
        } else {
            args.push_back(w == "<SRC>" ? src : w == "<WAV>" ? wav : w == "<OUT>" ? out : w);
        }
    }
    return args;
}

struct Row {
    VolumeMode mode;
    std::string source, outName, pattern;
    std::string value = {};   // percentage, gain text or peak cell, by mode
    std::string format = {};  // the format box ticked with this item
    ProbeFacts probe = {};
};

const std::string kHead = "-i <SRC> -y -map_metadata 0:g ";
const std::string kRmsHead = "-i <WAV> -i <SRC> -y -map_metadata 0:g -map 0:a:0 ";
const std::string kRmsTags = "-map_metadata 1:g -map_metadata:s:a:0 1:s:a:0 ";

ProbeFacts facts(std::int64_t audioBitRate, std::int64_t overall, int streams = -1, int firstAudio = -1)
{
    return {.durationUs = -1, .overallBitRate = overall, .streamCount = streams,
            .firstAudioStreamIndex = firstAudio, .audioBitRate = audioBitRate, .streams = {}};
}

}  // namespace

TEST(ConversionCommand, ArgumentsForEveryModeAndContainer)
{
    using M = VolumeMode;
    const Row rows[] = {
        {M::ChangeGain, "a.flac", "a.flac", kHead + "-c:v copy -q:a 0 <NOTAGS> -af volume=2.5dB <OUT>", "2.5"},
        {M::ChangeGain, "a.flac", "a.flac", kHead + "-c:v copy -q:a 0 -af volume=-0.0dB <OUT>", "-0.0"},
        {M::ChangePercent, "a.mp3", "a.mp3", kHead + "-c:v copy -b:a 128000 -af volume=1 <OUT>", "100", "",
         facts(128000, 130000)},
        {M::ChangePercent, "a.mp3", "a.mp3", kHead + "-c:v copy -q:a 0 <NOTAGS> -af volume=1.5 <OUT>", "150", "",
         facts(200000, 130000)},
        {M::ChangePercent, "a.mp3", "a.mp3", kHead + "-c:v copy -q:a 0 <NOTAGS> -af volume=0 <OUT>", "0"},
        {M::PeakTrackGain, "a.mp3", "a.mp3", kHead + "-c:v copy -q:a 0 <OUT>", ""},
        {M::PeakTrackGain, "a.mp3", "a.mp3", kHead + "-c:v copy -q:a 0 <NOTAGS> -af volume=4.2dB <OUT>", " 4.2\t"},
        {M::PeakTrackGain, "a.mp3", "a.mp3", kHead + "-c:v copy -q:a 0 -af volume=0.0dB <OUT>", "0.0"},
        // Containers without pictures, Vorbis encoders.
        {M::ChangePercent, "x.ogg", "x.ogg", kHead + "-vn -q:a 8 <NOTAGS> -af volume=0.5 <OUT>", "50"},
        {M::ChangePercent, "x.ape", "x.wav", kHead + "-q:v 0 -q:a 0 <NOTAGS> -af volume=0.5 <OUT>", "50"},
        {M::ChangePercent, "x.ape", "x.mp3", kHead + "-q:v 0 -q:a 0 <NOTAGS> -af volume=0.5 <OUT>", "50", "*.MP3"},
        {M::ChangePercent, "x.MP3", "x.mp3", kHead + "-c:v copy -b:a 64000 <NOTAGS> -af volume=0.5 <OUT>", "50",
         "*.MP3", facts(64000, 64000)},
        {M::ChangePercent, "x.flac", "x.m4a", kHead + "-c:v copy -q:a 0 <NOTAGS> -af volume=0.5 <OUT>", "50", "*.M4A"},
        {M::ChangePercent, "x.flac", "x.wma", kHead + "-vn -q:a 0 <NOTAGS> -af volume=0.5 <OUT>", "50", "*.WMA"},
        {M::ChangePercent, "x.flac", "x.mka", kHead + "-q:v 0 -q:a 8 <NOTAGS> -af volume=0.5 <OUT>", "50", "*.MKA"},
        // Video containers.
        {M::ChangePercent, "c.rmvb", "c.rm", kHead + "-q:v 0 -q:a 0 <NOTAGS> -af volume=2 <OUT>", "200"},
        {M::ChangePercent, "c.h264", "c.mkv", kHead + "-q:v 0 -q:a 8 <NOTAGS> -af volume=2 <OUT>", "200"},
        {M::ChangePercent, "c.dat", "c.avi", kHead + "-q:v 0 -q:a 0 <NOTAGS> -af volume=2 <OUT>", "200"},
        {M::ChangePercent, "c.mp4", "c.mp4", kHead + "-c:v copy -q:a 0 <NOTAGS> -af volume=2 <OUT>", "200", "*.MP3"},
        // RMS: the WAV copy in place of the first audio stream.
        {M::RmsCollectively, "c.mp4", "c.mp4",
         kRmsHead + "-map 1:0 -map 1:2 -disposition:a:0 default " + kRmsTags + "-c:v copy -q:a 0 <NOTAGS> <OUT>",
         "", "", facts(-1, -1, 3, 1)},
        {M::RmsWeighted, "c.mkv", "c.mkv",
         kRmsHead + "-map 1 -map -1:a:0 -disposition:a:0 default " + kRmsTags + "-c:v copy -q:a 8 <NOTAGS> <OUT>"},
        {M::RmsSingularly, "a.flac", "a.flac",
         kRmsHead + "-map 1:v? -map -1:V? " + kRmsTags + "-c:v copy -q:a 0 <NOTAGS> <OUT>"},
        {M::RmsArithmetic, "a.flac", "a.ogg", kRmsHead + kRmsTags + "-vn -q:a 8 <NOTAGS> <OUT>", "", "*.OGG"},
    };

    TempDir dir;
    std::filesystem::create_directories(dir / "in");
    std::filesystem::create_directories(dir / "out");
    const std::string scratch = dir.str() + "/tmp/";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.source + " -> " + row.outName + ": " + row.pattern);
        ConversionRequest r;
        r.mode = row.mode;
        r.sourcePath = (dir / "in" / row.source).string();
        r.fileIndex = 4;
        r.percent = row.mode == M::ChangePercent ? std::stoi(row.value) : 100;
        r.gainText = row.value;
        r.peakCell = row.value;
        r.formatConverting = !row.format.empty();
        r.formatText = row.format;
        r.outputFolder = (dir / "out").string();
        r.scratchFolder = scratch;
        r.probe = row.probe;
        const ConversionResult result = buildConversion(r);
        ASSERT_TRUE(result.command) << result.refusal;
        EXPECT_EQ(result.command->outputFile, (dir / "out" / row.outName).string());
        EXPECT_EQ(result.command->args,
                  expand(row.pattern, r.sourcePath, scratch + "4.wav", result.command->writePath));
    }
}

TEST(ConversionCommand, NumbersReachingTheFilter)
{
    const std::pair<int, const char*> factors[] = {{0, "0"},   {5, "0.05"},   {10, "0.1"}, {99, "0.99"},
                                                   {150, "1.5"}, {1000, "10"}, {-5, "-0.05"}};
    for (const auto& [percent, text] : factors)
        EXPECT_EQ(volumeFactorText(percent), text) << percent;

    for (const char* good : {"2.5", "-3", "+1", ".5", "5.", "1e2", "-0"})
        EXPECT_TRUE(isPlainNumber(good)) << good;
    // A comma or colon would add to the filter description; "-" alone would fail later.
    for (const char* bad : {"", "-", ".", "1.2.3", "2,aevalsrc=0", "1:x", " 2", "inf", "nan", "1e", "9e999"})
        EXPECT_FALSE(isPlainNumber(bad)) << bad;

    ConversionRequest r;
    r.sourcePath = "/in/a.mp3";
    r.outputFolder = "/out";
    r.mode = VolumeMode::ChangeGain;
    r.gainText = "1,volume=9";
    ConversionResult result = buildConversion(r);
    EXPECT_FALSE(result.command);
    EXPECT_EQ(result.refusal, "Cannot convert /in/a.mp3: the gain \"1,volume=9\" is not a number");
    r.mode = VolumeMode::PeakTrackGain;
    r.peakCell = "inf";
    EXPECT_FALSE(buildConversion(r).command);
}

TEST(ConversionCommand, PathsArriveWholeAndAbsolute)
{
    TempDir dir;
    const std::string folder = dir.str() + "/in \"$(rm -rf x)\" `id`";
    std::filesystem::create_directories(folder);
    ConversionRequest r;
    r.sourcePath = folder + "/-q:a 9\n$HOME's \"song\".mp3";
    r.outputFolder = folder;
    r.percent = 80;
    ConversionResult result = buildConversion(r);
    ASSERT_TRUE(result.command) << result.refusal;
    EXPECT_EQ(Args(result.command->args.begin(), result.command->args.begin() + 2), (Args{"-i", r.sourcePath}));
    EXPECT_EQ(result.command->outputFile, folder + "/NEW_-q:a 9\n$HOME's \"song\".mp3");

    // Relative, "-x.mp3" would read as an option and "pipe:out" as a protocol.
    const std::string cwd = std::filesystem::current_path().string();
    r.sourcePath = "-x.mp3";
    r.outputFolder = "pipe:out";
    result = buildConversion(r);
    ASSERT_TRUE(result.command) << result.refusal;
    EXPECT_EQ(result.command->args[1], cwd + "/-x.mp3");
    EXPECT_EQ(result.command->outputFile, cwd + "/pipe:out/-x.mp3");
    EXPECT_EQ(result.command->args.back().rfind(cwd + "/pipe:out/.", 0), 0u);

    EXPECT_EQ(wavCopyPath("/prog/tmp/", 3), "/prog/tmp/3.wav");
    EXPECT_EQ(wavExtractionArgs("/m/a \"b\".mkv", "/prog/tmp/0.wav"),
              (Args{"-i", "/m/a \"b\".mkv", "-y", "-map_metadata", "0:g", "-map", "0:a:0", "/prog/tmp/0.wav"}));
}
