#include "media/TFFDecoder.h"
#include "media/TFFEncoder.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

namespace fs = std::filesystem;
using testsupport::ffprobeValue;

namespace {

const std::string kTone = "sine=frequency=440:duration=1";
const std::string kPicture = "testsrc=size=160x120:rate=10:duration=1";

class Probe : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(host.LoadFFmpeg("")) << host.LastError(); }

    std::string make(const std::string& name, const std::string& audio, const std::string& video,
                     const std::vector<std::string>& args)
    {
        fs::path file = folder / name;
        testsupport::makeMedia(file, audio, video, args);
        return file.string();
    }
    std::string makeWav(const std::string& name = "tone.wav") { return make(name, kTone, {}, {}); }

    // ffprobe's seconds with six decimals, as microseconds.
    static std::int64_t probedMicroseconds(const std::string& seconds)
    {
        return std::llround(std::stod(seconds) * 1e6);
    }

    void expectAllUnset()
    {
        EXPECT_EQ(probe().FileSize(), -1);
        EXPECT_EQ(probe().StreamCount(), -1);
        EXPECT_EQ(probe().ProgramCount(), -1);
        EXPECT_EQ(probe().AudioStreamCount(), -1);
        EXPECT_EQ(probe().VideoStreamCount(), -1);
        EXPECT_EQ(probe().SubtitleStreamCount(), -1);
        EXPECT_EQ(probe().FirstAudioStreamIndex(), -1);
        EXPECT_EQ(probe().FirstVideoStreamIndex(), -1);
        EXPECT_EQ(probe().FirstSubtitleStreamIndex(), -1);
    }

    TFFDecoder& probe() { return host.Decoder(); }

    testsupport::TempDir folder;
    TFFEncoder host;
};

struct MediaCase {
    const char* name;
    std::string audio, video;
    std::vector<std::string> args;
    const char* audioCodec;  // empty: no audio stream
    const char* videoCodec;  // empty: no video stream

    friend void PrintTo(const MediaCase& row, std::ostream* out) { *out << row.name; }
};

class ProbeMedia : public Probe, public testing::WithParamInterface<MediaCase> {};

}  // namespace

TEST_P(ProbeMedia, AgreesWithFfprobe)
{
    const MediaCase& row = GetParam();
    const std::string file = make(row.name, row.audio, row.video, row.args);
    ASSERT_TRUE(probe().LoadFile(file)) << probe().LastErrorMessage();

    EXPECT_EQ(probe().FileSize(), static_cast<std::int64_t>(fs::file_size(file)));
    EXPECT_EQ(std::to_string(probe().FileSize()), ffprobeValue(file, "format=size"));
    EXPECT_EQ(std::to_string(probe().StreamCount()), ffprobeValue(file, "format=nb_streams"));
    TFileStreamInfo fileInfo;
    probe().GetFileInfo(fileInfo);
    EXPECT_NEAR(fileInfo.Duration, probedMicroseconds(ffprobeValue(file, "format=duration")), 1);
    EXPECT_EQ(std::to_string(fileInfo.BitRate), ffprobeValue(file, "format=bit_rate"));

    const bool hasAudio = *row.audioCodec != '\0';
    const bool hasVideo = *row.videoCodec != '\0';
    EXPECT_EQ(probe().AudioStreamCount(), hasAudio ? 1 : 0);
    EXPECT_EQ(probe().VideoStreamCount(), hasVideo ? 1 : 0);
    EXPECT_EQ(probe().SubtitleStreamCount(), 0);

    TAudioStreamInfo audio;
    EXPECT_EQ(probe().GetAudioStreamInfo(audio), hasAudio);
    EXPECT_EQ(audio.CodecName, row.audioCodec);
    if (hasAudio) {
        EXPECT_EQ(probe().FirstAudioStreamIndex(), std::stoi(ffprobeValue(file, "stream=index", "a:0")));
        EXPECT_EQ(std::to_string(audio.SampleRate), ffprobeValue(file, "stream=sample_rate", "a:0"));
        EXPECT_EQ(std::to_string(audio.Channels), ffprobeValue(file, "stream=channels", "a:0"));
        const std::string bitRate = ffprobeValue(file, "stream=bit_rate", "a:0");
        EXPECT_EQ(std::to_string(audio.BitRate), bitRate == "N/A" ? "0" : bitRate);
        const std::string duration = ffprobeValue(file, "stream=duration", "a:0");
        if (duration != "N/A") {
            EXPECT_NEAR(audio.DurationUs, probedMicroseconds(duration), 1);
        }
    } else {
        EXPECT_EQ(probe().FirstAudioStreamIndex(), -1);
        EXPECT_EQ(probe().LastErrorMessage(), "no audio stream.");
    }

    TVideoStreamInfo video;
    EXPECT_EQ(probe().GetVideoStreamInfo(video), hasVideo);
    EXPECT_EQ(video.CodecName, row.videoCodec);
    if (hasVideo) {
        EXPECT_EQ(std::to_string(video.Width), ffprobeValue(file, "stream=width", "v:0"));
        EXPECT_EQ(std::to_string(video.Height), ffprobeValue(file, "stream=height", "v:0"));
        EXPECT_EQ(std::to_string(video.FrameRate.num) + "/" + std::to_string(video.FrameRate.den),
                  ffprobeValue(file, "stream=avg_frame_rate", "v:0"));
        EXPECT_EQ(std::to_string(video.DisplayAspectRational.num) + ":" +
                      std::to_string(video.DisplayAspectRational.den),
                  ffprobeValue(file, "stream=display_aspect_ratio", "v:0"));
        EXPECT_FLOAT_EQ(video.DisplayAspectRatio, 4.0f / 3.0f);
        EXPECT_FLOAT_EQ(video.SampleAspectRatio, 1.0f);
    } else {
        EXPECT_EQ(probe().LastErrorMessage(), "no video stream.");
        EXPECT_EQ(video.Width, -1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ProbeMedia,
    testing::Values(
        MediaCase{"tone.mp3", kTone, {}, {}, "mp3float(MP3 (MPEG audio layer 3))", ""},
        MediaCase{"tone.flac", kTone, {}, {}, "flac(FLAC (Free Lossless Audio Codec))", ""},
        MediaCase{"tone.wav", kTone, {}, {}, "pcm_s16le(PCM signed 16-bit little-endian)", ""},
        MediaCase{"clip.mp4", kTone, kPicture,
                  {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest"},
                  "aac(AAC (Advanced Audio Coding))",
                  "h264(H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10)"},
        MediaCase{"mute.mkv", {}, kPicture, {"-c:v", "mpeg4"}, "", "mpeg4(MPEG-4 part 2)"}),
    [](const testing::TestParamInfo<MediaCase>& info) {
        std::string name = info.param.name;
        name[name.find('.')] = '_';
        return name;
    });

TEST_F(Probe, RefusedFilesLeaveNothingOpen)
{
    const std::string good = makeWav();
    const std::string mp4 = make("clip.mp4", kTone, kPicture, {"-c:v", "libx264", "-c:a", "aac"});
    testsupport::writeFile(folder / "empty.wav", "");
    testsupport::writeFile(folder / "cut.mp4", testsupport::readFile(mp4).substr(0, 2000));
    testsupport::writeFile(folder / "text.mp3", std::string(4000, 'x'));
    const std::string missing = (folder / "missing.wav").string();
    const std::string withNul = good + std::string("\0.x", 3);  // would open good.wav if cut
    // Playlists naming a real file, under media names: nothing they name is read.
    testsupport::writeFile(folder / "hls.mp3", "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\n"
                                               + good + "\n#EXT-X-ENDLIST\n");
    testsupport::writeFile(folder / "list.wav", "ffconcat version 1.0\nfile '" + good + "'\n");
    auto playlist = [&](const char* name, const char* format) {
        return folder.str() + "/" + name + ": not read: its content is a playlist or a description ("
               + format + ") that names other files or addresses";
    };
    struct Row {
        std::string file, format, message;
    } rows[] = {
        {missing, "", missing + ": No such file or directory"},
        {folder.str() + "/empty.wav", "", folder.str() + "/empty.wav: Invalid data found when processing input"},
        {folder.str() + "/cut.mp4", "", folder.str() + "/cut.mp4: Invalid data found when processing input"},
        {folder.str() + "/text.mp3", "",
         folder.str() + "/text.mp3: Invalid argument / Invalid data found when processing input"},
        {folder.str(), "", folder.str() + ": Is a directory"},
        {withNul, "", withNul + ": No such file or directory"},
        {good, "nosuchformat", "Unknown input format: nosuchformat"},
        {folder.str() + "/hls.mp3", "", playlist("hls.mp3", "hls")},
        {folder.str() + "/list.wav", "", playlist("list.wav", "concat")},
        {good, "concat", good + ": not read: its content is a playlist or a description (concat) "
                                "that names other files or addresses"},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(probe().LoadFile(good)) << probe().LastErrorMessage();
        EXPECT_FALSE(probe().LoadFile(row.file, row.format));
        EXPECT_EQ(probe().LastErrorMessage(), row.message);
        expectAllUnset();
    }
    EXPECT_TRUE(probe().LoadFile(good, "wav")) << probe().LastErrorMessage();
}

TEST_F(Probe, OpensAwkwardNamesByTheirExactBytes)
{
    const std::string source = makeWav();
    const std::string names[] = {"with  blanks .wav", "quotes \"double\" 'single'.wav",
                                 "dollar $HOME ${x} `cmd`.wav", "Grüße Ærø 日本.wav",
                                 "latin1 \xe9\xe8 and \xff\xfe.wav"};
    for (const std::string& name : names) {
        const fs::path file = folder / name;
        fs::copy_file(source, file);
        ASSERT_TRUE(probe().LoadFile(file.string())) << name << ": " << probe().LastErrorMessage();
        EXPECT_EQ(probe().FileSize(), static_cast<std::int64_t>(fs::file_size(file))) << name;
        EXPECT_EQ(probe().AudioStreamCount(), 1) << name;
        fs::remove(file);
        EXPECT_FALSE(probe().LoadFile(file.string()));
        EXPECT_EQ(probe().LastErrorMessage(), file.string() + ": No such file or directory");
    }
}

TEST_F(Probe, ReadsTagsByKeyWithoutRegardToCase)
{
    const std::string tagged = make("tagged.flac", kTone, {}, {
        "-metadata", "TITLE=Song", "-metadata", "author=Someone", "-metadata", "copyright=(c) me",
        "-metadata", "comment=Hi", "-metadata", "album=Record", "-metadata", "genre=Jazz",
        "-metadata", "year=2004", "-metadata", "track=3/12"});
    ASSERT_TRUE(probe().LoadFile(tagged)) << probe().LastErrorMessage();
    TFileStreamInfo info;
    probe().GetFileInfo(info);
    EXPECT_EQ(info.Title, "Song");
    EXPECT_EQ(info.Author, "Someone");
    EXPECT_EQ(info.Copyright, "(c) me");
    EXPECT_EQ(info.Comment, "Hi");
    EXPECT_EQ(info.Album, "Record");
    EXPECT_EQ(info.Genre, "Jazz");
    EXPECT_EQ(info.Year, 2004);
    EXPECT_EQ(info.Track, 0);  // "3/12" is no integer
    EXPECT_EQ(probe().Tags().size(), 8u + (probe().Tags().count("encoder") ? 1u : 0u));

    ASSERT_TRUE(probe().LoadFile(makeWav("plain.wav")));
    probe().GetFileInfo(info);
    EXPECT_EQ(info.Year, 0);
    EXPECT_EQ(info.Title, "");
}

TEST_F(Probe, QuestionsWithoutAFileOrTheRightStream)
{
    TFileStreamInfo fileInfo;
    probe().GetFileInfo(fileInfo);
    EXPECT_EQ(probe().LastErrorMessage(), "file not loaded.");
    EXPECT_EQ(fileInfo.StartTime, kAbsentTime);
    EXPECT_EQ(fileInfo.Duration, -1);
    EXPECT_EQ(fileInfo.BitRate, -1);
    EXPECT_EQ(fileInfo.Year, -1);
    TAudioStreamInfo audio;
    EXPECT_FALSE(probe().GetAudioStreamInfo(audio));
    EXPECT_EQ(probe().LastErrorMessage(), "file not loaded.");

    // Video is stream 0, audio stream 1.
    const std::string mp4 = make("clip.mp4", kTone, kPicture, {"-c:v", "libx264", "-c:a", "aac"});
    ASSERT_TRUE(probe().LoadFile(mp4)) << probe().LastErrorMessage();
    ASSERT_EQ(probe().FirstVideoStreamIndex(), 0);
    ASSERT_EQ(probe().FirstAudioStreamIndex(), 1);
    TVideoStreamInfo video;
    struct Row {
        bool audio;
        int index;
        const char* message;
    } rows[] = {
        {true, 0, "stream #0 is not audio stream."},
        {false, 1, "stream #1 is not video stream."},
        {true, 2, "stream index #2 is invalid."},
        {false, 7, "stream index #7 is invalid."},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(probe().GetAudioStreamInfo(1, audio));  // fills the record first
        EXPECT_FALSE(row.audio ? probe().GetAudioStreamInfo(row.index, audio)
                               : probe().GetVideoStreamInfo(row.index, video));
        EXPECT_EQ(probe().LastErrorMessage(), row.message);
        if (row.audio) {
            EXPECT_EQ(audio.CodecName, "");
            EXPECT_EQ(audio.Channels, -1);
        }
    }
    EXPECT_TRUE(probe().GetVideoStreamInfo(0, video));
    EXPECT_EQ(video.Width, 160);
}

TEST_F(Probe, ThousandsOfOpensKeepNoDescriptors)
{
    const std::string good = makeWav();
    testsupport::writeFile(folder / "text.mp3", std::string(4000, 'x'));
    auto openDescriptors = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{});
    };
    ASSERT_TRUE(probe().LoadFile(good));
    probe().CloseFile();
    const auto before = openDescriptors();
    for (int i = 0; i < 700; ++i) {
        ASSERT_TRUE(probe().LoadFile(good));
        ASSERT_FALSE(probe().LoadFile(folder.str() + "/text.mp3"));
        ASSERT_TRUE(probe().LoadFile(good));
    }
    probe().CloseFile();
    EXPECT_EQ(openDescriptors(), before);
}
