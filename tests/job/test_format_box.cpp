// Every entry of the format box on the sources people have, one Gain job per entry: every file
// is written with a layout players can name, the channels and rate its format holds, at the
// level asked for; a 5.1 and a 96 kHz source also through the peak and RMS modes.
#include "JobHarness.h"

#include "base/MediaExtensions.h"
#include "support/TestMedia.h"
#include "support/gui/GuiApplication.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <map>

namespace fs = std::filesystem;

namespace {

[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new testsupport::GuiApplication);

constexpr double kGainDb = -3.0;
constexpr double kRmsTargetLufs = -14.0;
constexpr double kCeilingDbtp = -1.0;
constexpr double kLossyAllowanceDb = 0.5;

// A loud 5.1 mix with a real crest factor: pink noise in every channel, each its own, and
// short full-scale clicks in all at once, which add up in a downmix.
std::vector<std::string> loudSurround()
{
    std::string graph, inputs;
    for (int seed = 1; seed <= 6; ++seed) {
        graph += "anoisesrc=c=pink:r=48000:a=0.3:d=2:s=" + std::to_string(seed) + "[n" + std::to_string(seed) + "];";
        inputs += "[n" + std::to_string(seed) + "]";
    }
    graph += inputs + "join=inputs=6:channel_layout=5.1(side)[noise];"
             "aevalsrc=if(lt(mod(t\\,0.5)\\,0.002)\\,0.65\\,0):s=48000:c=5.1(side):d=2[clicks];"
             "[noise][clicks]amix=inputs=2:normalize=0";
    return {"-filter_complex", graph};
}

std::string tones(const char* expressions, int rate, const char* layout = "stereo")
{
    return std::string("aevalsrc=") + expressions + ":s=" + std::to_string(rate) + ":c=" + layout + ":d=1.5";
}

const char* const kStereo = "0.25*sin(2*PI*440*t)|0.2*sin(2*PI*660*t)";

struct Source {
    const char* name;
    std::vector<std::string> args;  // ffmpeg's, before the path
    int channels;
    int rate;
};

const Source kSources[] = {
    {"a.mp3", {"-f", "lavfi", "-i", tones(kStereo, 22050)}, 2, 22050},
    {"b.flac", {"-f", "lavfi", "-i", tones(kStereo, 48000), "-sample_fmt", "s32"}, 2, 48000},
    {"c.ogg", {"-f", "lavfi", "-i", tones(kStereo, 44100), "-c:a", "libvorbis"}, 2, 44100},
    {"d.m4a", {"-f", "lavfi", "-i", tones(kStereo, 44100)}, 2, 44100},
    {"e.opus", {"-f", "lavfi", "-i", tones(kStereo, 48000)}, 2, 48000},
    // Every channel its own tone and level; the LFE's is left out of the loudness.
    {"f.ac3", {"-f", "lavfi", "-i", tones("0.25*sin(2*PI*440*t)|0.2*sin(2*PI*554*t)|0.2*sin(2*PI*660*t)|"
                                          "0.3*sin(2*PI*50*t)|0.15*sin(2*PI*880*t)|0.1*sin(2*PI*990*t)",
                                          48000, "5.1(side)"),
               "-b:a", "448k"}, 6, 48000},
    {"g.wma", {"-f", "lavfi", "-i", tones(kStereo, 44100)}, 2, 44100},
    {"h.wav", {"-f", "lavfi", "-i", tones(kStereo, 96000), "-c:a", "pcm_s24le"}, 2, 96000},
};

// What the format holds of these sources' rates and channels.
int expectedRate(const std::string& ext, int rate)
{
    if (ext == "opus")
        return 48000;
    const bool mpegOrWma = ext == "wma" || ext == "mp3" || ext == "mp2";
    if (rate > 48000 && (mpegOrWma || ext == "ac3" || ext == "ra"))
        return 48000;
    if (rate < 32000 && (ext == "ac3" || ext == "ra"))
        return 32000;
    return rate;
}

int expectedChannels(const std::string& ext, int channels)
{
    return ext == "wma" || ext == "mp3" || ext == "mp2" ? std::min(channels, 2) : channels;
}

// The source's loudness, measured once.
double sourceLufs(const fs::path& source)
{
    static std::map<fs::path, double> measured;
    const auto [it, added] = measured.try_emplace(source, 0.0);
    if (added)
        it->second = testsupport::measureLoudness(source, "a:0").integratedLufs;
    return it->second;
}

// Checks one output against its source: rate, channels, a named layout, and its loudness
// `change` away from the source's.
void checkOutput(const fs::path& source, const Source& s, const fs::path& out, double change)
{
    SCOPED_TRACE(out.filename().string());
    ASSERT_TRUE(fs::exists(out));
    const std::string ext = out.extension().string().substr(1);
    const int channels = expectedChannels(ext, s.channels);
    // One line each: rate, channels, layout.
    const std::string facts = testsupport::ffprobeValue(out, "stream=sample_rate,channels,channel_layout", "a:0");
    const std::string expected = std::to_string(expectedRate(ext, s.rate)) + "\n" + std::to_string(channels) + "\n";
    EXPECT_EQ(facts.substr(0, expected.size()), expected) << facts;
    // Mono and stereo need no name, and WAV, AIFF and ASF keep none for them; AU keeps none at
    // all. Readers take the usual layout of the channel count there.
    if (channels > 2 && ext != "au") {
        EXPECT_EQ(facts.find("unknown"), std::string::npos) << facts;
    }
    EXPECT_NEAR(testsupport::measureLoudness(out, "a:0").integratedLufs - sourceLufs(source), change, 0.5);
}

TEST(FormatBox, EveryEntryWritesEverySourceWithItsChannelsRateLayoutAndLevel)
{
    jobtest::JobHarness h;
    std::vector<fs::path> paths;
    for (const Source& s : kSources)
        paths.push_back(h.makeFile(s.name, s.args));
    h.addFiles(paths);
    h.choose(h.main().radio_changegain);
    h.main().edit_volumegain->setText(QString::number(kGainDb));
    h.main().cbk_audioformatconverting->setChecked(true);

    const std::vector<std::string> entries = media_extensions::entriesOf(media_extensions::audio_out_exts);
    ASSERT_EQ(entries.size(), 16u);
    for (const std::string& entry : entries) {
        SCOPED_TRACE(entry);
        h.boxes().clear();
        h.main().cb_audioformat->setCurrentText(QString::fromStdString(entry));
        h.runJob();
        h.expectFinishedWithoutErrors();
        const QString ext = QString::fromStdString(entry.substr(2)).toLower();
        for (std::size_t i = 0; i < paths.size(); ++i) {
            const fs::path out = h.outputFolder() / paths[i].filename().replace_extension(ext.toStdString());
            checkOutput(paths[i], kSources[i], out, kGainDb);
            // The tips say what changed.
            if (expectedChannels(ext.toStdString(), kSources[i].channels) != kSources[i].channels) {
                EXPECT_TRUE(h.main().rowNote(static_cast<int>(i)).contains("5.1(side) downmixed to stereo"));
            }
        }
    }

    // The peak and RMS modes measure the downmix in their own runs; the RMS modes limit the
    // downmix that is written, not the channels it is made from.
    h.main().btn_clearClick();
    const fs::path loud = h.makeFile("i.flac", loudSurround());
    h.addFiles({paths[5], paths[7], loud});
    h.main().cb_audioformat->setCurrentText(QStringLiteral("*.WMA"));
    for (QRadioButton* mode : {h.main().radio_peak_trackgain, h.main().radio_singularly}) {
        SCOPED_TRACE(mode->objectName().toStdString());
        fs::remove_all(h.outputFolder());
        fs::create_directory(h.outputFolder());
        h.boxes().clear();
        h.choose(mode);
        h.runJob();
        h.expectFinishedWithoutErrors();
        for (int row = 0; row < 3; ++row) {
            const fs::path& source = row == 0 ? paths[5] : row == 1 ? paths[7] : loud;
            const fs::path out = h.outputFolder() / source.filename().replace_extension(".wma");
            if (mode == h.main().radio_peak_trackgain && row != 1) {
                // The 5.1 mixes: no downmix goes past full scale; the dense one's own peak, at
                // full scale, sets its level.
                const double peak = testsupport::measureLoudness(out, "a:0").samplePeakDb;
                EXPECT_LE(peak, 0.0);
                if (row == 0) {
                    EXPECT_GT(peak, -0.5);
                }
            } else if (mode == h.main().radio_peak_trackgain) {
                checkOutput(source, kSources[7], out, h.main().rowCell(row, 3).toDouble());
            } else {
                const testsupport::LoudnessLevels levels = testsupport::measureLoudness(out, "a:0");
                EXPECT_NEAR(levels.integratedLufs, kRmsTargetLufs, 0.5) << out.filename();
                EXPECT_LE(levels.truePeakDb, kCeilingDbtp + kLossyAllowanceDb) << out.filename();
            }
        }
    }
}

}  // namespace
