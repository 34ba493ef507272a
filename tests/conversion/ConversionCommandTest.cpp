#include "conversion/ConversionCommand.h"

#include "conversion/ChannelLayouts.h"
#include "conversion/ContainerTable.h"
#include "conversion/EncoderTable.h"
#include "conversion/StreamRules.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>
#include <string>
#include <vector>

using namespace conversion_command;
using testsupport::TempDir;
using Args = std::vector<std::string>;

namespace {

// Words of a pattern; "<SRC>", "<WAV>" and "<OUT>" stand for the source, the WAV copy and the
// written file, "<NOTAGS>" for the removal of the loudness tags (of every audio stream:
// "<NOTAGSA>").
Args expand(const std::string& pattern, const std::string& src, const std::string& wav, const std::string& out)
{
    const char* tags[] = {"REPLAYGAIN_TRACK_GAIN",         "REPLAYGAIN_TRACK_PEAK",  "REPLAYGAIN_ALBUM_GAIN",
                          "REPLAYGAIN_ALBUM_PEAK",         "REPLAYGAIN_REFERENCE_LOUDNESS",
                          "REPLAYGAIN_TRACK_RANGE",        "REPLAYGAIN_ALBUM_RANGE", "R128_TRACK_GAIN",
                          "R128_ALBUM_GAIN"};
    Args args;
    std::istringstream words(pattern);
    for (std::string w; words >> w;) {
        if (w == "<NOTAGS>" || w == "<NOTAGSA>") {
            for (const char* option : {"-metadata", w == "<NOTAGS>" ? "-metadata:s:a:0" : "-metadata:s:a"})
                for (const char* tag : tags)
                    args.insert(args.end(), {option, std::string(tag) + "="});
        } else {
            args.push_back(w == "<SRC>" ? src : w == "<WAV>" ? wav : w == "<OUT>" ? out : w);
        }
    }
    return args;
}

TStreamFacts stream(TStreamKind kind, const char* codec, const char* encoder = "", std::int64_t rate = 0,
                    int bits = 0)
{
    TStreamFacts s;
    s.Kind = kind;
    s.Codec = codec;
    s.Encoder = encoder;
    s.Disposition = "0";
    s.BitRate = rate;
    s.Bits = bits;
    s.Channels = 2;
    s.SampleRate = 48000;
    s.Width = 640;
    s.Height = 360;
    return s;
}

ProbeFacts withStreams(std::vector<TStreamFacts> streams, std::int64_t overallBitRate = 0)
{
    ProbeFacts p;
    p.overallBitRate = overallBitRate;
    p.streamCount = static_cast<int>(streams.size());
    for (std::size_t n = 0; n < streams.size() && p.firstAudioStreamIndex < 0; ++n)
        if (streams[n].Kind == TStreamKind::Audio)
            p.firstAudioStreamIndex = static_cast<int>(n);
    p.streams = std::move(streams);
    return p;
}

using K = TStreamKind;
ProbeFacts song(const char* codec, const char* encoder) { return withStreams({stream(K::Audio, codec, encoder)}); }
ProbeFacts mp3(std::int64_t rate, std::int64_t overall)
{
    return withStreams({stream(K::Audio, "mp3", "libmp3lame", rate)}, overall);
}
const ProbeFacts kFlacSong = song("flac", "flac");

struct Row {
    VolumeMode mode;
    std::string source, outName, pattern;
    std::string value = {};   // percentage, gain text or measured peak gain, by mode
    std::string format = {};  // the format box ticked with this item
    ProbeFacts probe = song("mp3", "libmp3lame");
    std::string note = {};  // in the command's note
    std::map<int, double> gains = {};  // measured for downmixes
    std::string measurement = {};      // the run that measures first
    std::string copy = {};             // the WAV copy's downmix (RMS modes)
};

const std::string kHead = "-i <SRC> -y -map_metadata 0:g ";
const std::string kMp3 = kHead + "-map 0:0 -c:0 libmp3lame ";
const std::string kFlac = kHead + "-map 0:0 -c:0 flac -sample_fmt:0 ";
const std::string kRmsHead = "-i <WAV> -i <SRC> -y -map_metadata 0:g ";
const std::string kRmsTags = "-map_metadata 1:g -map_chapters 1 <NOTAGS> <OUT>";

// An audio stream of a layout, rate and depth.
TStreamFacts audio(const char* codec, const char* encoder, const char* layout, int rate, int bits = 0)
{
    TStreamFacts s = stream(TStreamKind::Audio, codec, encoder, 0, bits);
    s.ChannelLayout = layout;
    s.ChannelMask = channel_layouts::maskOf(layout);
    s.Channels = channel_layouts::channelCount(s.ChannelMask);
    s.SampleRate = rate;
    return s;
}

const std::string kDownmix = "pan=stereo|c0=c0+0.7071*c2+0.7071*c4|c1=c1+0.7071*c2+0.7071*c5";
const std::string kSoxr = "aresample=resampler=soxr:precision=28:osr=";

const TStreamFacts kCover = [] {
    TStreamFacts s = stream(K::Video, "mjpeg", "mjpeg");
    s.Picture = true;
    return s;
}();
const ProbeFacts kClip = withStreams({stream(K::Video, "h264", "libx264"), stream(K::Audio, "aac", "aac")});
const ProbeFacts kFilm = withStreams({stream(K::Video, "h264", "libx264"), stream(K::Audio, "aac", "aac", 129000),
                                      stream(K::Audio, "aac", "aac"), stream(K::Subtitle, "subrip", "srt"),
                                      stream(K::Attachment, "ttf"), stream(K::Data, "bin_data")});

// Options as words, or why the stream is left out.
std::string decided(const stream_rules::StreamPlan& plan)
{
    std::string text = plan.refusal;
    for (const stream_rules::Option& o : plan.options)
        text += (text.empty() ? "" : " ") + o.name + " " + o.value;
    return text;
}

}  // namespace

TEST(ConversionCommand, ArgumentsForEveryModeAndContainer)
{
    using M = VolumeMode;
    const Row rows[] = {
        {M::ChangeGain, "a.flac", "a.flac", kFlac + "s16 <NOTAGSA> -af volume=2.5dB <OUT>", "2.5", "", kFlacSong},
        {M::ChangeGain, "a.flac", "a.flac", kFlac + "s16 -af volume=-0.0dB <OUT>", "-0.0", "", kFlacSong},
        {M::ChangePercent, "a.mp3", "a.mp3", kMp3 + "-b:0 128000 -af volume=1 <OUT>", "100", "", mp3(128000, 130000)},
        {M::ChangePercent, "a.mp3", "a.mp3", kMp3 + "-q:0 0 <NOTAGSA> -af volume=1.5 <OUT>", "150", "", mp3(200000, 130000)},
        {M::ChangePercent, "a.mp3", "a.mp3", kMp3 + "-q:0 0 <NOTAGSA> -af volume=0 <OUT>", "0"},
        {M::PeakTrackGain, "a.mp3", "a.mp3", kMp3 + "-q:0 0 <OUT>", ""},
        // The cell's figure is rounded: the gain is half its last digit smaller, never a clip.
        {M::PeakTrackGain, "a.mp3", "a.mp3", kMp3 + "-q:0 0 <NOTAGSA> -af volume=4.15dB <OUT>", " 4.2\t"},
        {M::PeakTrackGain, "a.mp3", "a.mp3", kMp3 + "-q:0 0 <NOTAGSA> -af volume=-12.255dB <OUT>", "-12.25"},
        {M::PeakTrackGain, "a.mp3", "a.mp3", kMp3 + "-q:0 0 -af volume=0.0dB <OUT>", "0.0"},
        // Each container's own encoder at its best, or the source's codec where it takes it.
        {M::ChangePercent, "x.ogg", "x.ogg", kHead + "-map 0:0 -c:0 libvorbis -q:0 8 <NOTAGSA> -af volume=0.5 <OUT>",
         "50", "", song("vorbis", "libvorbis")},
        {M::ChangePercent, "x.ape", "x.wav", kHead + "-map 0:0 -c:0 pcm_s16le <NOTAGSA> -af volume=0.5 <OUT>", "50", "",
         song("ape", "")},
        {M::ChangePercent, "x.ape", "x.mp3", kMp3 + "-q:0 0 <NOTAGSA> -af volume=0.5 <OUT>", "50", "*.MP3",
         song("ape", "")},
        {M::ChangePercent, "x.MP3", "x.mp3", kMp3 + "-b:0 64000 <NOTAGSA> -af volume=0.5 <OUT>", "50", "*.MP3",
         mp3(64000, 64000)},
        // Video containers.
        {M::ChangePercent, "c.h264", "c.mkv", kHead + "-map 0:0 -q:0 0 -map 0:1 -c:1 aac -b:1 320000 <NOTAGSA> "
         "-af volume=2 <OUT>", "200", "", kClip},
        {M::ChangePercent, "c.dat", "c.avi", kHead + "-map 0:0 -q:0 0 -map 0:1 -c:1 libmp3lame -q:1 0 <NOTAGSA> "
         "-af volume=2 <OUT>", "200", "", kClip},
        {M::ChangePercent, "c.mp4", "c.mp4", kHead + "-map 0:0 -c:0 copy -map 0:1 -c:1 aac -b:1 320000 <NOTAGSA> "
         "-af volume=2 <OUT>", "200", "*.MP3", kClip},
        // RMS: the WAV copy in place of the first audio stream.
        {M::RmsCollectively, "c.mp4", "c.mp4", kRmsHead + "-map 1:0 -c:0 copy -map_metadata:s:0 1:s:0 -map 0:a:0 "
         "-c:1 aac -b:1 320000 -map_metadata:s:1 1:s:1 -disposition:1 default -map 1:2 -c:2 copy -map_metadata:s:2 "
         "1:s:2 " + kRmsTags, "", "", withStreams({kClip.streams[0], kClip.streams[1], stream(K::Subtitle, "mov_text")})},
        // Streams known: each one mapped and written in its own codec where the container holds it.
        {M::ChangeGain, "g.mkv", "g.mkv", kHead + "-map 0:0 -c:0 copy -map 0:1 -c:1 aac -b:1 129000 -map 0:2 -c:2 aac "
         "-b:2 320000 -map 0:3 -c:3 copy -map 0:4 -c:4 copy <NOTAGSA> -af volume=3dB <OUT>", "3", "", kFilm,
         "Left out: data stream #5 (bin_data), .mkv is written without data streams"},
        {M::RmsWeighted, "g.mkv", "g.mkv", "-i <WAV> -i <SRC> -y -map_metadata 0:g -map 1:0 -c:0 copy "
         "-map_metadata:s:0 1:s:0 -map 0:a:0 -c:1 aac -b:1 129000 -map_metadata:s:1 1:s:1 -disposition:1 default "
         "-map 1:2 -c:2 copy -map_metadata:s:2 1:s:2 -map 1:3 -c:3 copy -map_metadata:s:3 1:s:3 -map 1:4 -c:4 copy "
         "-map_metadata:s:4 1:s:4 -map_metadata 1:g -map_chapters 1 <NOTAGS> <OUT>", "", "", kFilm, "data stream #5"},
        {M::ChangeGain, "a.vob", "a.vob", kHead + "-map 0:0 -c:0 copy -map 0:1 -c:1 ac3 -b:1 448000 <NOTAGSA> "
         "-af volume=3dB <OUT>", "3", "", withStreams({stream(K::Video, "mpeg2video"), stream(K::Audio, "ac3", "ac3", 450000)})},
        {M::ChangeGain, "c.rmvb", "c.rm", kHead + "-map 0:0 -q:0 0 -filter:0 scale=640:368 -map 0:1 -c:1 ac3 -b:1 640000 "
         "<NOTAGSA> -af volume=3dB <OUT>", "3", "", withStreams({stream(K::Video, "rv40"), stream(K::Audio, "cook"),
         stream(K::Subtitle, "subrip", "srt")}), "subtitle stream #2 (subrip), .rm cannot hold subrip subtitles"},
        {M::ChangeGain, "x.wav", "x.flac", kHead + "-map 0:0 -c:0 flac -sample_fmt:0 s32 <NOTAGSA> -af volume=3dB <OUT>",
         "3", "*.FLAC", withStreams({stream(K::Audio, "pcm_s24le", "pcm_s24le", 2304000, 24)})},
        {M::ChangeGain, "x.flac", "x.aiff", kHead + "-map 0:0 -c:0 pcm_s24be <NOTAGSA> -af volume=3dB <OUT>",
         "3", "*.AIFF", withStreams({stream(K::Audio, "flac", "flac", 0, 24)})},
        {M::ChangeGain, "x.ogg", "x.ac3", kHead + "-map 0:0 -c:0 ac3 -b:0 640000 <NOTAGSA> -af volume=3dB <OUT>",
         "3", "*.AC3", withStreams({stream(K::Audio, "vorbis", "libvorbis", 112000), stream(K::Video, "png", "png")}),
         "video stream #1 (png), .ac3 holds no video"},
        // Formats that cannot hold the source's channels, layout, rate or depth.
        {M::ChangeGain, "f.ac3", "f.wma", kHead + "-map 0:0 -c:0 wmav2 -b:0 320000 <NOTAGSA> -filter:0 " + kDownmix +
         ",volume=-3dB,volume=1.50dB <OUT>", "-3", "*.WMA", withStreams({audio("ac3", "ac3", "5.1(side)", 48000)}),
         "5.1(side) downmixed to stereo", {{0, 1.5}}},
        {M::ChangeGain, "f.ac3", "f.wma", kHead + "-map 0:0 -c:0 wmav2 -b:0 320000 <NOTAGSA> -filter:0 " + kDownmix +
         ",volume=-3dB <OUT>", "-3", "*.WMA", withStreams({audio("ac3", "ac3", "5.1(side)", 48000)}),
         "5.1(side) downmixed to stereo", {}, "-i <SRC> -map 0:0 -filter:0 ebur128@src0=framelog=verbose," + kDownmix +
         ",ebur128@mix0=framelog=verbose:peak=sample -f null nul"},
        {M::RmsSingularly, "f.ac3", "f.mp2", "-i <WAV> -i <SRC> -y -map_metadata 0:g -map 0:a:0 -c:0 mp2 -b:0 384000 "
         "-map_metadata:s:0 1:s:0 -disposition:0 default -map_metadata 1:g -map_chapters 1 <NOTAGS> <OUT>", "",
         "*.MP2", withStreams({audio("ac3", "ac3", "5.1(side)", 48000)}), "5.1(side) downmixed to stereo",
         {{0, -0.5}}, "", kDownmix + ",volume=-0.50dB"},
        {M::ChangeGain, "g.flac", "g.ac3", kHead + "-map 0:0 -c:0 ac3 -b:0 640000 <NOTAGSA> -filter:0 pan=5.1|c0=c0|c1=c1|"
         "c2=c2|c3=c3|c4=c4+0.7071*c6|c5=c5+0.7071*c7,volume=3dB,volume=0.00dB <OUT>", "3", "*.AC3",
         withStreams({audio("flac", "flac", "7.1", 48000, 24)}), "7.1 downmixed to 5.1", {{0, 0}}},
        {M::ChangeGain, "g.flac", "g.ac3", kHead + "-map 0:0 -c:0 ac3 -b:0 640000 <NOTAGSA> -filter:0 pan=5.1(side)|"
         "c0=c0|c1=c1|c2=c2|c3=c3|c4=0.7071*c4+c5|c5=0.7071*c4+c6,volume=3dB,volume=-1.00dB <OUT>", "3", "*.AC3",
         withStreams({audio("flac", "flac", "6.1", 48000, 24)}), "6.1 downmixed to 5.1(side)", {{0, -1}}},
        // Relabelled only: AAC names 5.1 with back surrounds.
        {M::ChangeGain, "f.ac3", "f.m4a", kHead + "-map 0:0 -c:0 aac -b:0 512000 <NOTAGSA> -filter:0 channelmap=map="
         "0-0|1-1|2-2|3-3|4-4|5-5:channel_layout=5.1,volume=-3dB <OUT>", "-3", "*.M4A",
         withStreams({audio("ac3", "ac3", "5.1(side)", 48000)})},
        {M::ChangeGain, "h.wav", "h.mp3", kHead + "-map 0:0 -c:0 libmp3lame -q:0 0 <NOTAGSA> -filter:0 volume=-3dB," +
         kSoxr + "48000 <OUT>", "-3", "*.MP3", withStreams({audio("pcm_s24le", "pcm_s24le", "stereo", 96000, 24)}),
         "96 kHz resampled to 48 kHz"},
        {M::ChangeGain, "b.flac", "b.mp2", kHead + "-map 0:0 -c:0 mp2 -b:0 384000 <NOTAGSA> -filter:0 volume=-3dB,"
         "aresample=osf=s16:dither_method=triangular <OUT>", "-3", "*.MP2",
         withStreams({audio("flac", "flac", "stereo", 48000, 24)}), "24-bit reduced to 16-bit with dither"},
        {M::ChangeGain, "a.mp3", "a.opus", kHead + "-map 0:0 -c:0 libopus -b:0 256000 <NOTAGSA> -filter:0 volume=-3dB," +
         kSoxr + "48000 <OUT>", "-3", "*.OPUS", withStreams({audio("mp3", "libmp3lame", "stereo", 22050)}),
         "22.05 kHz resampled to 48 kHz"},
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
        r.peakGain = PeakGain::fromText(row.value);
        r.formatConverting = !row.format.empty();
        r.formatText = row.format;
        r.outputFolder = (dir / "out").string();
        r.scratchFolder = scratch;
        r.probe = row.probe;
        r.downmixGains = row.gains;
        const ConversionResult result = buildConversion(r);
        ASSERT_TRUE(result.command) << result.refusal;
        EXPECT_EQ(result.command->outputFile, (dir / "out" / row.outName).string());
        EXPECT_EQ(result.command->args,
                  expand(row.pattern, r.sourcePath, scratch + "4.wav", result.command->writePath));
        EXPECT_NE(result.command->note.find(row.note), std::string::npos) << result.command->note;
        EXPECT_EQ(result.command->note.empty(), row.note.empty()) << result.command->note;
        EXPECT_EQ(result.command->measurement, expand(row.measurement, r.sourcePath, "", ""));
        EXPECT_EQ(copyDownmix(r), std::optional(row.copy));
        if (!row.copy.empty()) {
            // Not measured yet: the extraction measures it first.
            r.downmixGains.clear();
            EXPECT_EQ(copyDownmix(r), std::nullopt);
            EXPECT_FALSE(downmixMeasurement(r).empty());
        }
        if (!row.measurement.empty()) {
            // The peak and extraction runs measure the same way.
            const Args part = downmixMeasurement(r);
            EXPECT_TRUE(std::equal(part.begin(), part.end(), result.command->measurement.begin() + 2));
        }
    }
    const std::map<std::string, double> loudness{{"src0", -20.0}, {"mix0", -21.5}, {"src3", -9.0}, {"mixx", -2.0},
                                                 {"src1", -70.0}, {"mix1", -99.0}};
    EXPECT_EQ(downmixGains(loudness), (std::map<int, double>{{0, 1.5}, {1, 20.0}}));
    // With the Peak mode's gain the downmix's own peak stays at full scale.
    EXPECT_EQ(downmixGains(loudness, {{"mix0", -6.0}, {"mix1", -30.0}}, 5.0), (std::map<int, double>{{0, 1.0}, {1, 20.0}}));
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
    for (const char* notGain : {"inf", "", "1,5"})
        EXPECT_FALSE(PeakGain::fromText(notGain)) << notGain;
    EXPECT_EQ(PeakGain::fromText("-0.0")->text(), "0.0");
    // Streams that could not be read could not all be written again.
    r.gainText = "1";
    EXPECT_EQ(buildConversion(r).refusal, "Cannot convert /in/a.mp3: its streams could not be read");
}

// Each container's form of the loudness tags, their figures' rounding, and the formats refused;
// a tagged row is a stream copy with the tags after the old ones' removal.
TEST(ConversionCommand, LoudnessTagsByContainer)
{
    using loudness_tags::Levels;
    const Levels track{-11.48, -0.1, std::nullopt, std::nullopt};
    const Levels album{-17.996, -3, -30, -0.05};
    const std::tuple<const char*, Levels, std::string> rows[] = {
        {".MP3", track, "REPLAYGAIN_TRACK_GAIN=-6.52 dB; REPLAYGAIN_TRACK_PEAK=0.988553"},
        {".flac", album, "REPLAYGAIN_TRACK_GAIN=0.00 dB; REPLAYGAIN_TRACK_PEAK=0.707946; "
                         "REPLAYGAIN_ALBUM_GAIN=12.00 dB; REPLAYGAIN_ALBUM_PEAK=0.994260"},
        {".opus", album, "R128_TRACK_GAIN=-1281; R128_ALBUM_GAIN=1792"},
        {".opus", Levels{-200, 0, std::nullopt, std::nullopt}, "R128_TRACK_GAIN=32767"},
        {".wav", track, "its format (wav) has no place for loudness tags that players read"},
        {".m4a", track, "the converter cannot write the iTunes free-form loudness tags"},
        {".mkv", track, "(mkv) has no place"},
        {"", track, "its format has no place"},
    };
    for (const auto& [extension, levels, expected] : rows) {
        const loudness_tags::Tags tags = loudness_tags::forContainer(extension, levels);
        EXPECT_EQ(tags.refusal.empty(), !tags.tags.empty()) << extension;
        EXPECT_NE((loudness_tags::summary(tags.tags) + tags.refusal).find(expected), std::string::npos)
            << extension << ": " << loudness_tags::summary(tags.tags) << tags.refusal;
    }

    ConversionRequest r;
    r.mode = VolumeMode::RmsCollectively;
    r.sourcePath = "/in/a.mp3";
    r.outputFolder = "/out";
    r.probe = mp3(128000, 130000);
    r.unchanged = r.tagsOnly = true;
    EXPECT_EQ(buildConversion(r).refusal, "Cannot convert /in/a.mp3: its loudness could not be measured");
    r.tagLevels = track;
    const ConversionResult built = buildConversion(r);
    ASSERT_TRUE(built.command) << built.refusal;
    Args expected = expand(kHead + "-map 0:0 -c:0 copy <NOTAGSA>", "/in/a.mp3", "", "");
    expected.insert(expected.end(), {"-metadata", "REPLAYGAIN_TRACK_GAIN=-6.52 dB", "-metadata",
                                     "REPLAYGAIN_TRACK_PEAK=0.988553", built.command->writePath});
    EXPECT_EQ(built.command->args, expected);
    r.sourcePath = "/in/a.wav";
    EXPECT_NE(buildConversion(r).refusal.find("Cannot convert /in/a.wav: its format (wav)"), std::string::npos);
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
    r.probe = song("mp3", "libmp3lame");
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
    // Deep samples keep their depth in the copy; lossy ones have none to keep.
    EXPECT_EQ(wavExtractionArgs("/m/a.flac", "/t/0.wav", withStreams({stream(K::Audio, "flac", "flac", 0, 24)})),
              (Args{"-i", "/m/a.flac", "-y", "-map_metadata", "0:g", "-map", "0:a:0", "-c:a", "pcm_s24le", "/t/0.wav"}));
    EXPECT_EQ(wavExtractionArgs("/m/a.mp3", "/t/0.wav", withStreams({stream(K::Audio, "mp3", "libmp3lame")})).size(), 8u);
    // A copy mixed down is floating point: its corrected peaks may pass full scale.
    EXPECT_EQ(wavExtractionArgs("/m/a.flac", "/t/0.wav", withStreams({stream(K::Audio, "flac", "flac", 0, 24)}), "pan=x"),
              (Args{"-i", "/m/a.flac", "-y", "-map_metadata", "0:g", "-map", "0:a:0", "-af", "pan=x", "-c:a", "pcm_f32le",
                    "/t/0.wav"}));
}

TEST(ConversionTables, EveryContainerRowAsThePlannersReadIt)
{
    // From another container: a 24-bit FLAC, a second audio stream, H.264, a cover, SubRip and a
    // font, each by its options, "+" (copied) or "-" (left out); then whether its audio is lossless.
    auto decisions = [](const char* extension) {
        using namespace stream_rules;
        const Target t{container_table::rowOf(extension)};
        auto shown = [](const StreamPlan& p) {
            return !p.refusal.empty() ? "-" : p.options[0].value == "copy" ? "+" : decided(p);
        };
        return shown(planAudio(stream(K::Audio, "flac", "flac", 0, 24), t, 0, false, false)) + " | " +
               (planAudio(kFilm.streams[2], t, 1, false, false).refusal.empty() ? "+" : "-") + " | " +
               shown(planVideo(stream(K::Video, "h264", "libx264"), t, 0)) + " | " + shown(planVideo(kCover, t, 0)) +
               " | " + shown(planSubtitle(kFilm.streams[3], t)) + " | " + shown(planAttachment(kFilm.streams[4], t)) +
               " | " + (container_table::isLossyExtension(extension) ? "lossy" : "lossless");
    };
    const std::pair<std::vector<const char*>, const char*> rows[] = {
        {{".wav"}, "-c pcm_s24le | - | - | - | - | - | lossless"},
        {{".aif", ".aiff", ".aifc", ".au"}, "-c pcm_s24be | - | - | - | - | - | lossless"},
        {{".flac"}, "-c flac -sample_fmt s32 | - | - | + | - | - | lossless"},
        {{".mp3"}, "-c libmp3lame -q 0 | - | - | + | - | - | lossy"},
        {{".aac"}, "-c aac -b 320000 | - | - | - | - | - | lossy"},
        {{".ac3", ".ra"}, "-c ac3 -b 640000 | - | - | - | - | - | lossy"},
        {{".mp2"}, "-c mp2 -b 384000 | - | - | - | - | - | lossy"},
        {{".opus"}, "-c libopus -b 256000 | - | - | - | - | - | lossy"},
        {{".wma"}, "-c wmav2 -b 320000 | + | - | - | - | - | lossy"},
        {{".ogg"}, "-c libvorbis -q 8 | + | - | - | - | - | lossy"},
        {{".m4a"}, "-c aac -b 320000 | + | - | + | -c mov_text | - | lossy"},
        // Matroska takes every codec; a cover is kept as a one-frame picture track.
        {{".mka"}, "-c flac -sample_fmt s32 | + | - | + | + | + | lossy"},
        {{".mkv"}, "-c flac -sample_fmt s32 | + | -q 0 | + | + | + | lossy"},
        {{".mp4", ".m4v"}, "-c aac -b 320000 | + | -q 0 | + | -c mov_text | - | lossy"},
        {{".mov", ".3gp"}, "-c aac -b 320000 | + | -q 0 | - | -c mov_text | - | lossy"},
        {{".webm"}, "-c libopus -b 256000 | + | -q 0 | - | -c webvtt | - | lossy"},
        {{".avi", ".SWF"}, "-c libmp3lame -q 0 | + | -q 0 | - | - | - | lossy"},
        {{".mpg", ".mpeg"}, "-c mp2 -b 384000 | + | -q 0 | - | - | - | lossy"},
        {{".vob"}, "-c ac3 -b 640000 | + | -q 0 | - | - | - | lossy"},
        {{".wmv", ".asf"}, "-c wmav2 -b 320000 | + | -q 0 | - | - | - | lossy"},
        {{".flv", ".ts", ".mts", ".m2ts"}, "-c aac -b 320000 | + | -q 0 | - | - | - | lossy"},
        {{".rm"}, "-c ac3 -b 640000 | - | -q 0 -filter scale=640:368 | - | - | - | lossy"},
        // Without a row: the converter's own choices.
        {{".xyz", ""}, "-q 0 | + | -q 0 | - | - | - | lossy"},
    };
    std::size_t covered = 0;
    for (const auto& [extensions, expected] : rows) {
        for (const char* extension : extensions) {
            EXPECT_EQ(decisions(extension), expected) << extension;
            covered += container_table::rowOf(extension).extension.empty() ? 0 : 1;
        }
    }
    EXPECT_EQ(covered, container_table::rows().size());
}

TEST(ConversionTables, EveryEncoderRowAsThePlannersReadIt)
{
    // Alone in a container ("*" for its name): 24-bit 5.1 at 96 kHz and what the note tells of
    // it, then its own codec kept at 22.05 kHz and 130 kbit/s.
    auto decisions = [](const encoder_table::EncoderRow& e) {
        const std::string_view names[] = {e.encoder};
        const container_table::ContainerRow only{".x", {}, names, 1, 0, 0, container_table::Pictures::Lost, {}, "", false, false};
        const auto plan = stream_rules::planAudio(audio("flac", "flac", "5.1(side)", 96000, 24), {only}, 0, false, false);
        std::string text = decided(plan);
        for (const std::string& change : plan.fit.changes)
            text += "; " + change;
        TStreamFacts own = stream(K::Audio, std::string(e.codec).c_str(), e.encoder.data(), 130000);
        own.SampleRate = 22050;
        text += " | " + decided(stream_rules::planAudio(own, {only, true}, 0, false, true));
        for (std::size_t at; (at = text.find(e.encoder)) != std::string::npos;)
            text.replace(at, e.encoder.size(), "*");
        return text;
    };
    const std::string up = "; 96 kHz resampled to 48 kHz", down = "; 5.1(side) downmixed to stereo" + up;
    const std::string dither = "; 24-bit reduced to 16-bit with dither";
    const std::pair<std::vector<const char*>, std::string> rows[] = {
        {{"aac"}, "-c * -b 512000 | -c * -b 130000"},
        {{"ac3"}, "-c * -b 640000" + up + " | -c * -b 128000"},
        {{"eac3"}, "-c * -b 640000" + up + " | -c * -b 130000"},
        {{"alac"}, "-c * -sample_fmt s32p | -c * -sample_fmt s16p"},
        {{"flac"}, "-c * -sample_fmt s32 | -c * -sample_fmt s16"},
        {{"libmp3lame"}, "-c * -q 0" + down + " | -c * -b 128000"},
        {{"mp2"}, "-c * -b 384000" + down + dither + " | -c * -b 128000"},
        {{"libopus"}, "-c * -b 510000" + up + " | -c * -b 130000"},
        {{"libvorbis"}, "-c * -q 8 | -c * -b 130000"},
        {{"wmav1", "wmav2"}, "-c * -b 320000" + down + " | -c * -b 130000"},
        {{"pcm_s16le", "pcm_s16be"}, "-c *" + dither + " | -c *"},
        {{"pcm_s24le", "pcm_s32le", "pcm_f32le", "pcm_s24be", "pcm_s32be", "pcm_f32be"}, "-c * | -c *"},
    };
    std::size_t covered = 0;
    for (const auto& [encoders, expected] : rows) {
        for (const char* name : encoders) {
            ASSERT_TRUE(encoder_table::rowOf(name)) << name;
            EXPECT_EQ(decisions(*encoder_table::rowOf(name)), expected) << name;
            ++covered;
        }
    }
    EXPECT_EQ(covered, encoder_table::rows().size());
}
