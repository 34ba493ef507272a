// The real client as Auralon runs it, checked against ffmpeg's own loudness meter.
#include "NormalizerTestSupport.h"

#include "support/TempDir.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <glob.h>
#include <numeric>
#include <poll.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace normtest;
using testsupport::measureLoudness;
using testsupport::readFile;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

const char* kApplied = "Applying adjustment of";
const char* kUntouched = "not adjusting...";

// The gain printed for each file name that was changed.
std::map<std::string, double> appliedGains(const std::string& out)
{
    std::map<std::string, double> gains;
    const std::string lead = "Applying adjustment of ", middle = "dB to ", end = "...";
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        auto at = line.find(middle);
        if (auto limited = line.find("... peaks limited by up to "); limited != std::string::npos)
            line.resize(limited + 3);  // how far the limiter went
        if (line.rfind(lead, 0) != 0 || at == std::string::npos || line.size() < at + middle.size() + end.size() ||
            line.compare(line.size() - end.size(), end.size(), end) != 0)
            continue;
        std::string name = line.substr(at + middle.size(), line.size() - end.size() - at - middle.size());
        gains[name] = std::stod(line.substr(lead.size(), at - lead.size()));
    }
    return gains;
}

int countOf(const std::string& text, const std::string& what)
{
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::vector<std::string> wavFilesIn(const TempDir& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string pattern(const TempDir& dir) { return dir.str() + "/*.wav"; }

}  // namespace

TEST(NormalizerClient, EachModeBringsFilesToItsLevel)
{
    struct Source {
        const char* name;
        double lufs, seconds, baseHz;
    } sources[] = {{"0.wav", -26, 2, 220}, {"1.wav", -20, 3, 300}, {"2.wav", -31, 4, 180}};
    for (const char* mode : {"", "-b", "-bv", "-m"}) {
        SCOPED_TRACE(std::string("mode ") + mode);
        TempDir dir;
        std::vector<fs::path> files;
        std::vector<double> before, seconds;
        std::vector<std::string> kept;
        for (const Source& s : sources) {
            files.push_back(dir / s.name);
            makeMusic(files.back(), s.lufs, s.seconds, s.baseHz,
                      {"-c:a", "pcm_s16le", "-metadata", "title=Track " + std::string(s.name)});
            before.push_back(measureLoudness(files.back()).integratedLufs);
            seconds.push_back(s.seconds);
            kept.push_back(bytesBesideSamples(files.back()));
        }
        std::vector<std::string> args{pattern(dir)};
        if (*mode)
            args.insert(args.begin(), mode);
        ClientRun run = runClient(args);
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
        auto gains = appliedGains(run.out);
        ASSERT_EQ(gains.size(), 3u) << run.out;

        double expected = -14;
        if (std::string(mode) == "-bv")
            expected = std::inner_product(before.begin(), before.end(), seconds.begin(), 0.0) /
                       std::accumulate(seconds.begin(), seconds.end(), 0.0);
        if (std::string(mode) == "-m")
            expected = std::accumulate(before.begin(), before.end(), 0.0) / 3;
        for (std::size_t i = 0; i < files.size(); ++i) {
            SCOPED_TRACE(files[i].string());
            testsupport::LoudnessLevels after = measureLoudness(files[i]);
            EXPECT_LE(after.truePeakDb, -0.9);
            EXPECT_EQ(bytesBesideSamples(files[i]), kept[i]);  // tags and header, byte for byte
            EXPECT_NEAR(gains[files[i].string()], after.integratedLufs - before[i], 0.2);
            if (std::string(mode) == "-b") {
                EXPECT_NEAR(after.integratedLufs - before[i], gains[files[0].string()], 0.1);
            } else {
                EXPECT_NEAR(after.integratedLufs, expected, 0.2);
            }
        }
        if (std::string(mode) == "-b") {
            EXPECT_NEAR(jointLoudness(files), -14, 0.2);
        }
    }
}

TEST(NormalizerClient, TruePeaksStayUnderTheCeiling)
{
    // A quiet tone with loud clicks: reaching the target would push the clicks far over.
    const std::string spiky =
        "aevalsrc=0.02*sin(2*PI*440*t)+0.8*lt(mod(t\\,0.5)\\,0.003)*sin(2*PI*2500*t):s=44100:d=3";
    struct Row {
        std::vector<std::string> flags;
        double ceiling;
        bool limiter;
    } rows[] = {{{"--limiter=off"}, -1, false},
                {{"-b", "--ceiling=-3", "--limiter=off"}, -3, false},
                {{}, -1, true},
                {{"-b", "--ceiling=-3"}, -3, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.flags.size() + row.limiter);
        TempDir dir;
        testsupport::makeMedia(dir / "a.wav", spiky, {}, {"-c:a", "pcm_s16le"});
        makeMusic(dir / "b.wav", -30, 2);
        double spikyBefore = measureLoudness(dir / "a.wav").integratedLufs;
        double musicBefore = measureLoudness(dir / "b.wav").integratedLufs;
        std::vector<std::string> args = row.flags;
        args.push_back(pattern(dir));
        ClientRun run = runClient(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        testsupport::LoudnessLevels a = measureLoudness(dir / "a.wav");
        testsupport::LoudnessLevels b = measureLoudness(dir / "b.wav");
        EXPECT_LE(a.truePeakDb, row.ceiling + (row.limiter ? 0 : 0.1));
        EXPECT_GE(a.truePeakDb, row.ceiling - 0.3);  // raised up to the ceiling, not beyond
        EXPECT_EQ(countOf(run.out, "peaks limited by up to"), row.limiter ? 1 : 0) << run.out;
        const bool album = !row.flags.empty() && row.flags[0] == "-b";
        if (!album) {
            EXPECT_NEAR(b.integratedLufs, -14, 0.2);
        }
        // The clicks make most of the loudness: limited, it falls short whatever the gain.
        if (!row.limiter) {
            EXPECT_LT(a.integratedLufs, -15);
        }
        if (album && !row.limiter) {
            EXPECT_NEAR(a.integratedLufs - spikyBefore, b.integratedLufs - musicBefore, 0.1);
        }
    }
}

TEST(NormalizerClient, LimitedFilesKeepEachModesPromise)
{
    // Loudness and peaks as in mastered music: pink noise with short full-scale transients a
    // few times a second, and a piece with a quiet and a loud section peaking at full scale.
    const std::string transients =
        "anoisesrc=c=pink:r=44100:a=0.34:d=6,aformat=channel_layouts=stereo[n];"
        "aevalsrc=0.95*lt(mod(t\\,0.33)\\,0.0006)*sin(2*PI*2000*t):s=44100:d=6,aformat=channel_layouts=stereo[t];"
        "[n][t]amix=inputs=2:normalize=0";
    const std::string sections =
        "aevalsrc=(0.05+0.45*gte(t\\,3))*(sin(2*PI*220*t)+0.6*sin(2*PI*331*t)+0.4*sin(2*PI*497*t))"
        "*(0.6+0.4*sin(2*PI*2*t))|0.8*(0.05+0.45*gte(t\\,3))*sin(2*PI*275*t):s=44100:d=6";
    struct Row {
        const char* mode;
        double target;
    } rows[] = {{"", -14}, {"", -23}, {"-b", -14}, {"-b", -16}, {"-bv", -14}, {"-bv", -23}, {"-m", -14}, {"-m", -18}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("mode ") + row.mode + " target " + std::to_string(row.target));
        TempDir dir;
        const std::vector<fs::path> files{dir / "0.wav", dir / "1.wav", dir / "2.wav"};
        testsupport::makeMedia(files[0], transients, {}, {"-c:a", "pcm_s16le"});
        testsupport::makeMedia(files[1], sections, {}, {"-c:a", "pcm_s24le"});
        makeMusic(files[2], -30, 4);
        std::vector<double> before;
        for (const fs::path& file : files)
            before.push_back(measureLoudness(file).integratedLufs);
        const double joint = jointLoudness(files);
        std::vector<std::string> args{"--target=" + std::to_string(row.target), pattern(dir)};
        if (*row.mode)
            args.insert(args.begin(), row.mode);
        ClientRun run = runClient(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;

        const std::string mode = row.mode;
        double level = row.target;
        if (mode == "-m")
            level = std::accumulate(before.begin(), before.end(), 0.0) / 3;
        if (mode == "-bv")
            level = (before[0] * 6 + before[1] * 6 + before[2] * 4) / 16;
        for (std::size_t i = 0; i < files.size(); ++i) {
            SCOPED_TRACE(files[i].string());
            testsupport::LoudnessLevels after = measureLoudness(files[i]);
            EXPECT_LE(after.truePeakDb, -1.0);
            EXPECT_NEAR(after.integratedLufs, mode == "-b" ? before[i] + row.target - joint : level, 0.5) << run.out;
        }
    }
}

TEST(NormalizerClient, EveryFormatRoundTrips)
{
    struct Row {
        const char* name;
        std::vector<std::string> args;
        const char* codec;
    } rows[] = {
        {"u8", {"-c:a", "pcm_u8"}, "pcm_u8"},
        {"s16", {"-c:a", "pcm_s16le"}, "pcm_s16le"},
        {"s24 extensible", {"-c:a", "pcm_s24le"}, "pcm_s24le"},
        {"s32", {"-c:a", "pcm_s32le"}, "pcm_s32le"},
        {"f32", {"-c:a", "pcm_f32le"}, "pcm_f32le"},
        {"f64", {"-c:a", "pcm_f64le"}, "pcm_f64le"},
        {"RF64", {"-c:a", "pcm_s16le", "-rf64", "always"}, "pcm_s16le"},
        {"mono 48 kHz", {"-c:a", "pcm_s16le", "-ac", "1", "-ar", "48000"}, "pcm_s16le"},
        {"5.1", {"-c:a", "pcm_s16le", "-af", "pan=5.1|FL=c0|FR=c1|FC=c0|LFE=c1|BL=c0|BR=c1"}, "pcm_s16le"},
        {"s24 96 kHz", {"-c:a", "pcm_s24le", "-ar", "96000"}, "pcm_s24le"},
        {"3.0 8 kHz", {"-c:a", "pcm_s16le", "-ar", "8000", "-af", "pan=3.0|FL=c0|FR=c1|FC=c0"}, "pcm_s16le"},
        {"quad 22.05 kHz", {"-c:a", "pcm_s16le", "-ar", "22050", "-af", "pan=quad|FL=c0|FR=c1|BL=c1|BR=c0"}, "pcm_s16le"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        fs::path file = dir / "x.wav";
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {"-metadata", "title=Round trip"});
        makeMusic(file, -24, 2, 220, args);
        std::string kept = bytesBesideSamples(file);
        std::string shape = testsupport::ffprobeValue(file, "stream=codec_name,channels,sample_rate,duration_ts");
        EXPECT_EQ(shape.rfind(row.codec, 0), 0u) << shape;
        ClientRun run = runClient({pattern(dir)});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(countOf(run.out, kApplied), 1) << run.out;
        EXPECT_EQ(testsupport::ffprobeValue(file, "stream=codec_name,channels,sample_rate,duration_ts"), shape);
        EXPECT_EQ(bytesBesideSamples(file), kept);
        testsupport::LoudnessLevels after = measureLoudness(file);
        EXPECT_NEAR(after.integratedLufs, -14, 0.2);
        EXPECT_LE(after.truePeakDb, -0.9);
    }
}

TEST(NormalizerClient, UnfinishedAndCutDataIsClampedToTheFile)
{
    TempDir dir;
    makeMusic(dir / "src.wav", -24, 3);
    std::string good = readFile(dir / "src.wav");
    const std::size_t dataAt = good.find("data");
    std::string unfinished = good;  // what a writer leaves when it cannot seek back
    unfinished.replace(4, 4, std::string(4, '\xFF'));
    unfinished.replace(dataAt + 4, 4, std::string(4, '\xFF'));
    std::string cut = good.substr(0, dataAt + 8 + 44100 * 4 + 3);  // one second and a partial frame
    fs::remove(dir / "src.wav");
    testsupport::writeFile(dir / "unfinished.wav", unfinished);
    testsupport::writeFile(dir / "cut.wav", cut);

    ClientRun run = runClient({pattern(dir)});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(countOf(run.out, kApplied), 2) << run.out;
    struct Row {
        const char* name;
        std::size_t size;
        const char* samples;
    } rows[] = {{"unfinished.wav", good.size(), "132300"}, {"cut.wav", cut.size(), "44100"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string out = readFile(dir / row.name);
        ASSERT_EQ(out.size(), row.size);
        EXPECT_EQ(out.substr(4, 4), le32(row.size - 8));
        EXPECT_EQ(out.substr(dataAt + 4, 4), le32(row.size - dataAt - 8));
        EXPECT_EQ(testsupport::ffprobeValue(dir / row.name, "stream=duration_ts"), row.samples);
        EXPECT_NEAR(measureLoudness(dir / row.name).integratedLufs, -14, 0.2);
    }
}

TEST(NormalizerClient, BrokenFilesAreRefusedAndLeftAsTheyWere)
{
    TempDir dir;
    makeMusic(dir / "good.wav", -24, 2, 220, {"-c:a", "pcm_s16le", "-metadata", "title=x"});
    std::string wav = readFile(dir / "good.wav");
    std::string mp3Tag = wav;
    mp3Tag.replace(20, 2, le16(0x55));
    std::map<std::string, std::string> broken = {
        {"text.wav", "just some text\n"},
        {"empty.wav", ""},
        {"cut-in-tags.wav", wav.substr(0, wav.find("LIST") + 20)},
        {"mp3.wav", mp3Tag},
    };
    for (const auto& [name, bytes] : broken)
        testsupport::writeFile(dir / name, bytes);
    ::mkfifo((dir / "pipe.wav").c_str(), 0600);  // must be refused, not waited on

    ClientRun run = runClient({pattern(dir)});
    EXPECT_EQ(run.exitCode, 1);
    for (const auto& [name, bytes] : broken) {
        EXPECT_EQ(readFile(dir / name), bytes) << name;
        EXPECT_NE(run.err.find((dir / name).string() + ": " + kUntouched), std::string::npos) << run.err;
    }
    EXPECT_NE(run.err.find("truncated"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("unsupported"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("pipe.wav: not adjusting... not a regular file"), std::string::npos) << run.err;
    EXPECT_EQ(appliedGains(run.out).count((dir / "good.wav").string()), 1u) << run.out;
    EXPECT_EQ(wavFilesIn(dir).size(), broken.size() + 2);
}

TEST(NormalizerClient, BadCommandLinesChangeNothing)
{
    TempDir dir;
    makeMusic(dir / "a.wav", -24, 1);
    const std::string original = readFile(dir / "a.wav");
    std::vector<std::string> rows[] = {
        {"-x", pattern(dir)},
        {"-B", pattern(dir)},
        {dir.str() + "/*.WAV"},
        {pattern(dir), dir.str() + "/none/*.wav"},
        {"-b", "-m", pattern(dir)},
        {"--target=+5", pattern(dir)},
        {"--ceiling=1", pattern(dir)},
        {"--limiter=yes", pattern(dir)},
        {},
        {"--measure", "--format=s16le", "--channels=2", "-"},
        {"--measure", "--format=u8", "--channels=2", "--rate=44100", "-"},
        {"--measure", "--format=f32le", "--channels=0", "--rate=44100", "-"},
        {"--measure", "-b", "--format=f32le", "--channels=2", "--rate=44100", "-"},
        {"--measure", "--format=f32le", "--channels=2", "--rate=44100", pattern(dir)},
        {"--rate=44100", pattern(dir)},
    };
    for (const auto& args : rows) {
        ClientRun run = runClient(args);
        EXPECT_EQ(run.exitCode, 2) << (args.empty() ? "" : args[0]);
        EXPECT_FALSE(run.err.empty());
        EXPECT_EQ(run.out, "");
    }
    ClientRun dry = runClient({"-n", pattern(dir)});
    EXPECT_EQ(dry.exitCode, 0);
    EXPECT_NE(dry.out.find(std::string(kUntouched) + " dry run"), std::string::npos) << dry.out;
    ClientRun help = runClient({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--limiter=off"), std::string::npos);
    EXPECT_NE(help.out.find("--measure"), std::string::npos);
    EXPECT_EQ(readFile(dir / "a.wav"), original);
}

TEST(NormalizerClient, SilentShortAndFinishedFilesAreLeftAlone)
{
    TempDir dir;
    testsupport::makeMedia(dir / "silent.wav", "anullsrc=r=44100:cl=stereo:d=2", {}, {"-c:a", "pcm_s16le"});
    makeMusic(dir / "short.wav", -20, 0.2);
    makeMusic(dir / "done.wav", -20, 2);
    ASSERT_EQ(runClient({(dir / "done.wav").string()}).exitCode, 0);
    std::map<std::string, std::string> before;
    for (const char* name : {"silent.wav", "short.wav", "done.wav"})
        before[name] = readFile(dir / name);

    for (const char* mode : {"", "-b", "-m"}) {
        std::vector<std::string> args{pattern(dir)};
        if (*mode)
            args.insert(args.begin(), mode);
        ClientRun run = runClient(args);
        EXPECT_EQ(run.exitCode, 0) << mode;
        EXPECT_EQ(countOf(run.out, kUntouched), 3) << mode << run.out;
        EXPECT_EQ(countOf(run.out, "\n"), 3);
        EXPECT_NE(run.out.find((dir / "silent.wav").string() + ": not adjusting... silent"), std::string::npos);
        EXPECT_NE(run.out.find((dir / "short.wav").string() + ": not adjusting... too short to measure"),
                  std::string::npos);
        EXPECT_NE(run.out.find((dir / "done.wav").string() + ": not adjusting... gain below 0.05 dB"),
                  std::string::npos);
        for (const auto& [name, bytes] : before)
            EXPECT_EQ(readFile(dir / name), bytes) << name;
    }
}

TEST(NormalizerClient, RewriteIsReproducibleAndKeepsModeAndLinks)
{
    TempDir one, two;
    makeMusic(one / "take.wav", -30, 2);
    fs::copy_file(one / "take.wav", two / "3.wav");  // as a job names its copies
    fs::permissions(two / "3.wav", fs::perms(0640));
    fs::create_symlink(two / "3.wav", two / "link.wav");
    TempDir linear;  // a file that needs no limiting gets the plain gain, with or without the limiter
    fs::copy_file(one / "take.wav", linear / "take.wav");
    ASSERT_EQ(runClient({"--limiter=off", pattern(linear)}).exitCode, 0);
    ASSERT_EQ(runClient({pattern(one)}).exitCode, 0);
    EXPECT_EQ(readFile(one / "take.wav"), readFile(linear / "take.wav"));
    ClientRun run = runClient({(two / "link.wav").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readFile(one / "take.wav"), readFile(two / "3.wav"));  // same samples, same dither, any name
    EXPECT_TRUE(fs::is_symlink(two / "link.wav"));
    EXPECT_EQ(fs::status(two / "3.wav").permissions(), fs::perms(0640));
    EXPECT_EQ(wavFilesIn(two), (std::vector<std::string>{"3.wav", "link.wav"}));
}

TEST(NormalizerClient, FailedWriteLeavesTheOriginalAndNoTemporaryFile)
{
    TempDir dir;
    makeMusic(dir / "a.wav", -30, 2);
    const std::string original = readFile(dir / "a.wav");
    const rlim_t limit = original.size() / 2;
    ClientRun run = runClient({pattern(dir)}, [limit] {
        struct rlimit r{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &r);
    });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("a.wav: not adjusting... cannot write"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
    EXPECT_EQ(readFile(dir / "a.wav"), original);
    EXPECT_EQ(wavFilesIn(dir), std::vector<std::string>{"a.wav"});
}

// A long file, made by repeating a short one's samples, so that its rewrite takes a while.
static std::string makeLongFile(const fs::path& file)
{
    makeMusic(file, -30, 3);
    std::string bytes = readFile(file);
    std::size_t dataAt = bytes.find("data");
    std::string samples = bytes.substr(dataAt + 8);
    std::string data;
    for (int i = 0; i < 60; ++i)
        data += samples;
    bytes = bytes.substr(0, dataAt) + chunk("data", data);
    bytes.replace(4, 4, le32(bytes.size() - 8));
    testsupport::writeFile(file, bytes);
    return bytes;
}

TEST(NormalizerClient, StoppedRewriteLeavesTheOriginal)
{
    for (int signal : {SIGKILL, SIGTERM}) {
        SCOPED_TRACE(signal);
        TempDir dir;
        const std::string original = makeLongFile(dir / "long.wav");
        int watch = inotify_init1(IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        inotify_add_watch(watch, dir.str().c_str(), IN_MODIFY);
        QProcess client;
        client.start(QString::fromStdString(clientPath()), {QString::fromStdString(pattern(dir))});
        ASSERT_TRUE(client.waitForStarted());
        // Stop it once the temporary file has taken a number of sample blocks.
        int writes = 0;
        alignas(inotify_event) char events[4096];
        while (writes < 20) {
            pollfd p{watch, POLLIN, 0};
            ASSERT_GT(::poll(&p, 1, 120000), 0) << "the client never wrote";
            ssize_t len = ::read(watch, events, sizeof events);
            for (char* e = events; e < events + len; e += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(e)->len)
                if (std::string(reinterpret_cast<inotify_event*>(e)->name).rfind(".long.wav.", 0) == 0)
                    ++writes;
        }
        ::kill(static_cast<pid_t>(client.processId()), signal);
        client.waitForFinished();
        ::close(watch);
        EXPECT_EQ(client.exitStatus(), QProcess::CrashExit);
        EXPECT_EQ(readFile(dir / "long.wav"), original);
        glob_t found{};
        ::glob(pattern(dir).c_str(), 0, nullptr, &found);
        EXPECT_EQ(found.gl_pathc, 1u);  // no "*.wav" garbage
        ::globfree(&found);
        // After SIGKILL its hidden ".long.wav.XXXXXX.part" may stay (no pattern takes it);
        // after SIGTERM the client removes it itself.
        if (signal == SIGTERM) {
            EXPECT_EQ(wavFilesIn(dir), std::vector<std::string>{"long.wav"});
        }
    }
}
