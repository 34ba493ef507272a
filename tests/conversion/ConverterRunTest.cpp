// Built commands run by the real ffmpeg on generated media.
#include "conversion/ConversionCommand.h"
#include "conversion/OutputFiles.h"
#include "media/TFFEncoder.h"

#include "support/TempDir.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace conversion_command;
using testsupport::ffprobeValue;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

const std::string kLoudnessKeys = "replaygain_track_gain,replaygain_track_peak,replaygain_album_gain";

// Global and stream values of some tags (keys in any letter case), one a line.
std::string tagValues(const fs::path& file, const std::string& keys)
{
    return ffprobeValue(file, "format_tags=" + keys + ":stream_tags=" + keys);
}

// "<type>\n<attached_pic>" for every stream.
std::string streamsOf(const fs::path& file)
{
    return ffprobeValue(file, "stream=codec_type:stream_disposition=attached_pic");
}

// The source's streams as the job reads them.
ProbeFacts probed(const fs::path& source)
{
    static TFFEncoder host;
    static const bool loaded = host.LoadFFmpeg("");
    EXPECT_TRUE(loaded && host.Decoder().LoadFile(source.string())) << source;
    return probeFactsOf(host.Decoder());
}

ConversionRequest request(VolumeMode mode, const fs::path& source, const std::string& format = {})
{
    ConversionRequest r;
    r.probe = probed(source);
    r.mode = mode;
    r.sourcePath = source.string();
    r.outputFolder = (source.parent_path().parent_path() / "out").string();
    fs::create_directories(r.outputFolder);
    r.formatConverting = !format.empty();
    r.formatText = format;
    return r;
}

// Builds, runs and commits; returns the finished file.
fs::path convert(const ConversionRequest& r)
{
    const ConversionResult built = buildConversion(r);
    if (!built.command) {
        ADD_FAILURE() << built.refusal;
        return {};
    }
    const ConversionCommand& c = *built.command;
    const auto run = testsupport::runCommand(FFMPEG_EXECUTABLE, c.args);
    if (run.exitCode != 0) {
        output_files::discardOutput(c);
        ADD_FAILURE() << "ffmpeg failed for " << c.outputFile << ":\n" << run.output;
        return {};
    }
    const output_files::StepResult step = output_files::commitOutput(c, file_identity::guardedNames({r.sourcePath}));
    EXPECT_TRUE(step.ok) << step.error;
    return c.outputFile;
}

// Pink noise (so that the encoder's quality shows in the bit rate) with loudness tags, other
// tags and, optionally, a cover picture.
void makeTaggedFlac(const fs::path& out, bool withCover)
{
    fs::create_directories(out.parent_path());
    std::vector<std::string> args{"-f", "lavfi", "-i", "anoisesrc=d=1.5:c=pink:a=0.3", "-ac", "2"};
    if (withCover) {
        const fs::path cover = out.parent_path() / "cover.png";
        testsupport::makeMedia(cover, {}, "testsrc=size=64x64:duration=0.1", {"-frames:v", "1"});
        args.insert(args.end(), {"-i", cover.string(), "-map", "0", "-map", "1", "-c:v", "copy",
                                 "-disposition:v", "attached_pic"});
    }
    args.insert(args.end(), {"-metadata", "title=Tone", "-metadata", "album_artist=Band", "-metadata",
                             "REPLAYGAIN_TRACK_GAIN=-3.20 dB", "-metadata", "replaygain_track_peak=0.90",
                             "-metadata", "REPLAYGAIN_ALBUM_GAIN=-1.00 dB", out.string()});
    testsupport::ffmpeg(args);
}

}  // namespace

TEST(ConverterRun, LoudnessTagsGoWhenTheLevelChanges)
{
    TempDir dir;
    const fs::path source = dir / "in/tagged.flac";
    makeTaggedFlac(source, false);
    ASSERT_EQ(tagValues(source, kLoudnessKeys), "-3.20 dB\n0.90\n-1.00 dB");

    for (const char* format : {"*.MP3", "*.FLAC", "*.OGG", "*.M4A"}) {
        SCOPED_TRACE(format);
        ConversionRequest r = request(VolumeMode::ChangeGain, source, format);
        r.gainText = "3";
        const fs::path out = convert(r);
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(tagValues(out, kLoudnessKeys), "");
        EXPECT_EQ(tagValues(out, "title,album_artist"), "Tone\nBand");
        if (out.extension() == ".ogg") {  // "-q:a 0" gave about 70 kbit/s here, quality 8 about 190
            EXPECT_GT(std::stol(ffprobeValue(out, "format=bit_rate")), 150000);
        }
        fs::remove(out);
    }

    // Percentage 100 changes nothing: the tags still describe the file.
    const fs::path out = convert(request(VolumeMode::ChangePercent, source, "*.MP3"));
    EXPECT_EQ(tagValues(out, kLoudnessKeys), "-3.20 dB\n0.90\n-1.00 dB");
}

TEST(ConverterRun, CoversKeptWhereTheyFitAndNeverBreakAConversion)
{
    TempDir dir;
    const fs::path source = dir / "in/album track.flac";
    const fs::path scratch = dir / "tmp";
    makeTaggedFlac(source, true);
    fs::create_directories(scratch);
    testsupport::ffmpeg(wavExtractionArgs(source.string(), wavCopyPath(scratch.string(), 0)));

    // Matroska keeps the picture, but as a one-frame track rather than a cover.
    const std::string withCover = "audio\n0\nvideo\n1", asTrack = "audio\n0\nvideo\n0", audioOnly = "audio\n0";
    const std::vector<std::pair<const char*, std::string>> rows = {
        {"*.MP3", withCover}, {"*.FLAC", withCover}, {"*.M4A", withCover},
        {"*.OGG", audioOnly}, {"*.RA", audioOnly},   {"*.WMA", audioOnly}, {"*.MKA", asTrack},
    };
    // The WAV copy has no album artist, and RealAudio holds none.
    for (VolumeMode mode : {VolumeMode::ChangePercent, VolumeMode::RmsCollectively}) {
        for (const auto& [format, streams] : rows) {
            SCOPED_TRACE(std::string(format) + (isRmsMode(mode) ? " from the WAV copy" : ""));
            ConversionRequest r = request(mode, source, format);
            r.percent = 80;
            r.scratchFolder = scratch.string();
            const fs::path out = convert(r);
            ASSERT_FALSE(out.empty());
            EXPECT_EQ(streamsOf(out), streams);
            if (out.extension() != ".ra") {
                EXPECT_EQ(tagValues(out, "album_artist"), "Band");
            }
            EXPECT_EQ(tagValues(out, kLoudnessKeys), "");
            fs::remove(out);
        }
    }

    // Vorbis comments are stream tags: an OGG source keeps them too.
    const fs::path ogg = dir / "in/tagged.ogg";
    testsupport::makeMedia(ogg, "sine=duration=1", {}, {"-metadata", "album_artist=Band"});
    testsupport::ffmpeg(wavExtractionArgs(ogg.string(), wavCopyPath(scratch.string(), 1)));
    ConversionRequest r = request(VolumeMode::RmsSingularly, ogg);
    r.scratchFolder = scratch.string();
    r.fileIndex = 1;
    EXPECT_EQ(tagValues(convert(r), "album_artist"), "Band");
}

TEST(ConverterRun, RmsVideoReplacesOnlyTheFirstAudioStream)
{
    TempDir dir;
    const fs::path source = dir / "in/two tracks.mkv";
    const fs::path scratch = dir / "tmp";
    fs::create_directories(source.parent_path());
    fs::create_directories(scratch);
    // Stereo first, then six channels: left to itself ffmpeg would extract the second.
    testsupport::ffmpeg({"-f", "lavfi", "-i", "testsrc=size=96x64:rate=10:duration=1", "-f", "lavfi", "-i",
                         "sine=frequency=440:duration=1", "-f", "lavfi", "-i", "sine=frequency=880:duration=1",
                         "-filter_complex", "[1:a]aformat=channel_layouts=stereo[st];[2:a]aformat=channel_layouts=5.1[six]",
                         "-map", "0:v", "-map", "[st]", "-map", "[six]", "-metadata:s:a:0", "language=eng",
                         source.string()});
    const std::string wav = wavCopyPath(scratch.string(), 0);
    testsupport::ffmpeg(wavExtractionArgs(source.string(), wav));
    EXPECT_EQ(ffprobeValue(wav, "stream=channels"), "2");

    ConversionRequest r = request(VolumeMode::RmsArithmetic, source);
    r.scratchFolder = scratch.string();
    const fs::path out = convert(r);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(ffprobeValue(out, "stream=codec_type"), "video\naudio\naudio");
    EXPECT_EQ(ffprobeValue(out, "stream=channels", "a"), "2\n6");
    EXPECT_EQ(ffprobeValue(out, "stream_tags=language", "a:0"), "eng");
}

TEST(ConverterRun, AwkwardNamesReachTheConverterWhole)
{
    TempDir dir;
    const fs::path folder = dir / "-in \"$HOME\" `x`";
    fs::create_directories(folder);
    const fs::path source = folder / "-y \"a\"\n$b.flac";
    testsupport::makeMedia(source, "sine=duration=1");
    ConversionRequest r = request(VolumeMode::ChangePercent, source);
    r.outputFolder = folder.string();
    r.percent = 50;
    const fs::path out = convert(r);
    ASSERT_EQ(out, folder / "NEW_-y \"a\"\n$b.flac");
    EXPECT_NEAR(testsupport::measureVolume(out).maxDb - testsupport::measureVolume(source).maxDb, -6.0, 0.3);
}
