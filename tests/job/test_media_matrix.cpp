// The kinds of files people have, each through a Gain, a Peak and an RMS job: every stream
// comes out with its codec, depth, rate, language and title, and every audio stream at the
// level the mode promises.
#include "JobHarness.h"

#include "support/TestMedia.h"
#include "support/gui/GuiApplication.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QLineEdit>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {

[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new testsupport::GuiApplication);

constexpr double kSourcePeakDb = -12.0;
constexpr double kGainDb = 6.0;
constexpr double kRmsTargetLufs = -14.0;

std::string tone(int frequency, int rate = 48000)
{
    return "aevalsrc=" + std::to_string(std::pow(10.0, kSourcePeakDb / 20.0)) + "*sin(2*PI*" +
           std::to_string(frequency) + "*t):s=" + std::to_string(rate) + ":d=1.5";
}

const std::string kPicture = "testsrc=size=160x120:rate=25:duration=1.5";

struct Source {
    const char* name;
    std::vector<std::string> args;  // ffmpeg's, before the path
    int leftOut = -1;               // the stream the output container cannot hold
    bool sameCodecs = true;         // false where the container changes
};

// A FLAC picture block as Ogg comments carry it, for a tiny PNG made here.
std::string oggCover(const fs::path& dir)
{
    const fs::path png = dir / "cover.png";
    testsupport::ffmpeg({"-f", "lavfi", "-i", "color=red:size=16x16", "-frames:v", "1", png.string()});
    std::ifstream in(png, std::ios::binary);
    const std::string data{std::istreambuf_iterator<char>(in), {}};
    QByteArray block;
    auto be32 = [&](std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            block.append(static_cast<char>((v >> shift) & 0xff));
    };
    const std::string mime = "image/png";
    be32(3);  // front cover
    be32(static_cast<std::uint32_t>(mime.size()));
    block.append(mime.data(), static_cast<int>(mime.size()));
    for (std::uint32_t v : {0u, 16u, 16u, 24u, 0u, static_cast<std::uint32_t>(data.size())})
        be32(v);
    block.append(data.data(), static_cast<int>(data.size()));
    return "METADATA_BLOCK_PICTURE=" + block.toBase64().toStdString();
}

std::vector<Source> sources(const fs::path& dir)
{
    const std::vector<std::string> video{"-f", "lavfi", "-i", kPicture};
    auto with = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::vector<std::string> tone1{"-f", "lavfi", "-i", tone(440)};
    const std::vector<std::string> tone2{"-f", "lavfi", "-i", tone(660)};
    testsupport::writeFile(dir / "subs.srt", "1\n00:00:00,000 --> 00:00:01,000\nHello\n\n");
    const std::vector<std::string> subs{"-i", (dir / "subs.srt").string()};
    const std::vector<std::string> twoTracks{
        "-map", "0", "-map", "1", "-map", "2", "-map", "3", "-metadata:s:v", "title=Camera",
        "-metadata:s:a:0", "language=eng", "-metadata:s:a:1", "language=ger",
        "-metadata:s:a:1", "title=Deutsch", "-metadata:s:s", "language=eng", "-c:v", "libx264",
        "-c:a", "aac"};
    testsupport::ffmpeg({"-f", "lavfi", "-i", "color=blue:size=64x64", "-frames:v", "1",
                         (dir / "cover.jpg").string()});
    return {
        {"a.vob", with(with(video, tone1), {"-c:v", "mpeg2video", "-c:a", "ac3", "-b:a", "448k", "-f", "vob"})},
        {"b.ts", with(with(video, tone1), {"-c:v", "libx264", "-c:a", "aac", "-b:a", "129k"})},
        {"c.3gp", with(with(video, {"-f", "lavfi", "-i", tone(440, 16000)}), {"-ac", "1", "-c:v", "libx264", "-c:a", "aac"})},
        {"d.mts", with(with(video, tone1), {"-c:v", "libx264", "-c:a", "ac3", "-b:a", "256k", "-f", "mpegts"})},
        {"e.m4a", with(tone1, {"-c:a", "alac", "-sample_fmt", "s32p"})},
        {"f.wav", with(tone1, {"-c:a", "pcm_s24le"})},
        {"g.mkv", with(with(with(with(video, tone1), tone2), subs), with(twoTracks, {"-c:s", "srt"}))},
        {"h.mp4", with(with(with(with(video, tone1), tone2), subs), with(twoTracks, {"-c:s", "mov_text"}))},
        {"i.flac", {"-f", "lavfi", "-i", tone(440, 96000), "-sample_fmt", "s32", "-c:a", "flac"}},
        {"j.mp3", with(with(tone1, {"-i", (dir / "cover.jpg").string()}),
                       {"-map", "0", "-map", "1", "-c:v", "copy", "-id3v2_version", "3",
                        "-metadata", "artist=Someone", "-metadata", "title=Song",
                        "-metadata:s:v", "comment=Cover (front)", "-disposition:v", "attached_pic"})},
        {"k.ogg", with(tone1, {"-c:a", "libvorbis", "-metadata:s:a", oggCover(dir)}), 1},
        {"l.opus", with(tone1, {"-c:a", "libopus"})},
        // Its RealVideo 1.0 output takes frame sizes in multiples of 16 only.
        {"m.rmvb", {"-f", "lavfi", "-i", "testsrc=size=200x120:rate=25:duration=1.5", "-f", "lavfi",
                    "-i", tone(440), "-c:v", "libx264", "-c:a", "aac", "-f", "matroska"}, -1, false},
    };
}

// Every stream as the checks compare it, in file order; codecs and sample formats only
// where the container is kept.
std::vector<std::string> streamTexts(const fs::path& file, bool withCodec)
{
    std::string entries = "stream=index,codec_type,sample_rate,channels";
    if (withCodec)
        entries += ",codec_name,sample_fmt,bits_per_raw_sample,bits_per_sample";
    entries += ":stream_tags=language,title,comment:stream_disposition=attached_pic";
    const testsupport::CommandResult r = testsupport::runCommand(
        FFPROBE_EXECUTABLE, {"-v", "error", "-show_entries", entries, "-of", "compact=p=0", file.string()});
    // A transport stream lists its streams again under its program.
    std::map<int, std::string> byIndex;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("index=", 0) == 0)
            byIndex.emplace(std::stoi(line.substr(6)), line.substr(line.find('|') + 1));
    std::vector<std::string> texts;
    for (const auto& entry : byIndex)
        texts.push_back(entry.second);
    return texts;
}

enum class Mode { Gain, Peak, Rms };

TEST(MediaMatrix, EveryStreamKeepsItsFormAndEveryAudioStreamGetsTheModesLevel)
{
    jobtest::JobHarness h;
    const std::vector<Source> list = sources(h.dir().path());
    std::vector<fs::path> paths;
    for (const Source& s : list)
        paths.push_back(h.makeFile(s.name, s.args));
    h.addFiles(paths);

    const std::pair<Mode, QRadioButton* Tmain::*> modes[] = {
        {Mode::Gain, &Tmain::radio_changegain},
        {Mode::Peak, &Tmain::radio_peak_trackgain},
        {Mode::Rms, &Tmain::radio_singularly},
    };
    struct Expected {
        std::vector<std::string> streams;
        std::vector<testsupport::VolumeLevels> audio;
    };
    std::vector<Expected> expected;
    for (std::size_t i = 0; i < list.size(); ++i) {
        Expected e{streamTexts(paths[i], list[i].sameCodecs), {}};
        if (list[i].leftOut >= 0)
            e.streams.erase(e.streams.begin() + list[i].leftOut);
        for (const std::string& text : e.streams)
            if (text.find("codec_type=audio") != std::string::npos)
                e.audio.push_back(testsupport::measureVolume(paths[i], "a:" + std::to_string(e.audio.size())));
        expected.push_back(e);
    }

    for (const auto& [mode, button] : modes) {
        SCOPED_TRACE(static_cast<int>(mode));
        h.boxes().clear();
        h.choose(h.main().*button);
        h.main().edit_volumegain->setText(QString::number(kGainDb));
        h.runJob();
        h.expectFinishedWithoutErrors();

        for (std::size_t i = 0; i < list.size(); ++i) {
            const Source& s = list[i];
            const Expected& e = expected[i];
            fs::path out = h.outputFolder() / s.name;
            if (!s.sameCodecs)
                out.replace_extension(".rm");
            SCOPED_TRACE(out.filename().string());
            ASSERT_TRUE(fs::exists(out));
            // Beside what was left out, the note may tell a miss of these short lossy outputs.
            EXPECT_EQ(h.main().rowNote(static_cast<int>(i)).contains("Left out"), s.leftOut >= 0);
            EXPECT_EQ(streamTexts(out, s.sameCodecs), e.streams);
            if (!s.sameCodecs) {
                EXPECT_EQ(std::stoi(testsupport::ffprobeValue(out, "stream=width", "v:0")) % 16, 0);
            }
            for (std::size_t a = 0; a < e.audio.size(); ++a) {
                const std::string stream = "a:" + std::to_string(a);
                const double change = testsupport::measureVolume(out, stream).meanDb - e.audio[a].meanDb;
                if (mode == Mode::Gain) {
                    EXPECT_NEAR(change, kGainDb, 0.5) << stream;
                } else if (mode == Mode::Peak && h.main().rowNote(static_cast<int>(i)).contains("Redone")) {
                    // Coding pushed its peak over the allowance: written again that much lower.
                    EXPECT_LT(change, -e.audio[0].maxDb) << stream;
                    EXPECT_LE(testsupport::measureVolume(out, "a:0").maxDb, 0.6) << stream;
                } else if (mode == Mode::Peak) {
                    // Every stream by the first one's peak: lossy coding moves it off the tone's.
                    EXPECT_NEAR(change, -e.audio[0].maxDb, 0.6) << stream;
                } else if (a == 0) {
                    EXPECT_NEAR(testsupport::measureLoudness(out, stream).integratedLufs, kRmsTargetLufs, 0.5);
                } else {
                    EXPECT_NEAR(change, 0.0, 0.2) << stream << " is not the normalised one";
                }
            }
        }
    }
}

}  // namespace
