// The job engine with no window (QCoreApplication, the logic library only): every mode over a
// small mixed list, cancel in every stage, the order of what it tells with one file at once,
// and a program killed in the middle of a job.
#include "analysis/RunLimit.h"
#include "base/ProgramFolders.h"
#include "job/Job.h"
#include "job/KnownSourceLevels.h"
#include "job/LoudnessCheck.h"
#include "MeasureLine.h"
#include "media/TFFEncoder.h"
#include "report/ReportExport.h"
#include "support/FakeToolFolder.h"
#include "support/Processes.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <array>
#include <map>
#include <memory>
#include <unistd.h>

namespace fs = std::filesystem;
using conversion_command::VolumeMode;
using testsupport::FakeToolBehaviour;
using testsupport::FakeToolFolder;

namespace {

bool waitFor(const std::function<bool()>& condition, int ms = 60000)
{
    const QDeadlineTimer deadline(ms);
    while (!condition() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    return condition();
}

const char* stageName(Job::Stage stage)
{
    return std::array{"peak", "extract", "normalise", "convert", "check"}.at(static_cast<std::size_t>(stage));
}

// One job on the engine, its tools in a folder of the test's own (real unless made fakes),
// and everything it told, in order: "stage convert", "tool", "start 0", "measured 0",
// "written 0", "failed 1", "end convert", "completed" ...
class EngineRun {
public:
    EngineRun()
    {
        tools.linkReal(FakeToolFolder::Tool::Converter);
        tools.linkReal(FakeToolFolder::Tool::Normalizer);
        fs::create_directories(out());
        EXPECT_TRUE(host.LoadFFmpeg("")) << host.LastError();
        settings.outputFolder = out().string();
        settings.existing = existing_outputs::Choice::Replace;  // jobs again into out() replace

        settings.filesAtOnce = run_limit::defaultLimit(std::getenv(run_limit::kEnvironmentName), 2);
        settings.converter = tools.toolPath(FakeToolFolder::Tool::Converter);
        settings.normaliser = tools.toolPath(FakeToolFolder::Tool::Normalizer);
        settings.meter = AURALON_TEST_BIN_DIR "/qvx/meter";
        settings.scratchFolder = program_folders::scratchFolder();
    }

    fs::path out() const { return dir / "out"; }

    // Starts the job and returns once it has finished; `whileRunning` is called before the
    // start and then from the event loop, until it returns true. With `checked`, every output
    // is judged (measured by the real normaliser), the list measured and planned first unless
    // only `followed`.
    void run(const std::function<bool(Job&)>& whileRunning = {}, bool checked = false, bool followed = false)
    {
        told.clear();
        job = std::make_unique<Job>(settings, host.Decoder());
        check.reset();
        if (checked) {
            JobSettings measuring = settings;
            measuring.normaliser = AURALON_TEST_BIN_DIR "/qvx/client";
            check = std::make_unique<LoudnessCheck>(measuring, host.Decoder());
            if (!followed)
                check->analyse();
            EXPECT_TRUE(waitFor([&] { return check->isOver(); })) << "the analysis did not end";
            check->follow(*job);
        }
        QObject::connect(job.get(), &Job::stageStarted, [this](Job::Stage s) { note(std::string("stage ") + stageName(s)); });
        QObject::connect(job.get(), &Job::stageEnded, [this](Job::Stage s) { note(std::string("end ") + stageName(s)); });
        QObject::connect(job.get(), &Job::rowStarted, [this](int row) { note("start", row); });
        QObject::connect(job.get(), &Job::rowMeasured, [this](int row) { note("measured", row); });
        QObject::connect(job.get(), &Job::rowEnded, [this](int row, Job::RowEnd end, const JobError& error) {
            errors[row] = error;
            note(std::array{"written", "failed", "refused"}.at(static_cast<std::size_t>(end)), row);
        });
        QObject::connect(job.get(), &Job::toolStarted, [this] { note("tool"); });
        QObject::connect(job.get(), &Job::finished, [this](Job::Outcome outcome) {
            note(std::array{"completed", "failed", "cancelled"}.at(static_cast<std::size_t>(outcome)));
        });
        bool helped = !whileRunning || whileRunning(*job);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] { helped = helped || job->isOver() || whileRunning(*job); });
        poll.start(5);
        job->start();
        EXPECT_TRUE(waitFor([&] { return job->isOver() && (!check || check->isOver()); })) << "the job did not end";
        EXPECT_TRUE(helped);
    }

    // The entries of `told` that begin with one of `kinds`, as one text: "start 0, start 1".
    std::string entries(std::initializer_list<std::string_view> kinds) const
    {
        std::string text;
        for (const std::string& entry : told)
            for (std::string_view kind : kinds)
                if (entry.starts_with(kind))
                    text += (text.empty() ? "" : ", ") + entry;
        return text;
    }

    testsupport::TempDir dir;
    FakeToolFolder tools;
    TFFEncoder host;
    JobSettings settings;
    std::unique_ptr<Job> job;
    std::unique_ptr<LoudnessCheck> check;
    std::vector<std::string> told;
    std::map<int, JobError> errors;

private:
    void note(const std::string& what, int row = -1) { told.push_back(row < 0 ? what : what + " " + std::to_string(row)); }
};

std::vector<std::string> mixedList(const fs::path& dir)
{
    testsupport::makeSine(dir / "a.wav", -12, 1);
    testsupport::makeSine(dir / "b.mp3", -12, 1);
    testsupport::makeMedia(dir / "c.mp4", "sine=frequency=440:duration=1", "testsrc=size=64x48:rate=5:duration=1",
                           {"-shortest"});
    return {(dir / "a.wav").string(), (dir / "b.mp3").string(), (dir / "c.mp4").string()};
}

// Every output is also judged against the plan made before: the lossless row keeps its promise
// and got its planned gain (the lossy ones of these 1 s files lose loudness to their encoders'
// padding, and overshoot full scale in peak mode: misses a real job would report too).
TEST(Engine, EveryModeWritesEveryRowAndTellsItsStagesAndRowsInOrder)
{
    // The check of the outputs is the last stage.
    const std::string rms = "stage extract, end extract, stage normalise, end normalise, stage convert, end convert, "
                            "stage check, end check";
    const std::string direct = "stage convert, end convert, stage check, end check";
    const std::pair<VolumeMode, std::string> modes[] = {
        {VolumeMode::RmsSingularly, rms}, {VolumeMode::RmsCollectively, rms},
        {VolumeMode::RmsWeighted, rms},   {VolumeMode::RmsArithmetic, rms},
        {VolumeMode::PeakTrackGain, "stage peak, end peak, " + direct},
        {VolumeMode::ChangePercent, direct}, {VolumeMode::ChangeGain, direct},
    };
    EngineRun e;
    e.settings.sources = mixedList(e.dir.path());
    e.settings.gain = "-3";
    for (const auto& [mode, stages] : modes) {
        SCOPED_TRACE(static_cast<int>(mode));
        fs::remove_all(e.out());
        fs::create_directories(e.out());
        e.settings.mode = mode;
        e.run({}, true);

        ASSERT_EQ(e.told.back(), "completed") << e.entries({""});
        for (const LoudnessReport::Row& row : e.check->report().rows)
            EXPECT_TRUE(row.verdict && row.before && row.after) << row.file << ": " << row.error;
        const LoudnessReport::Row& wav = e.check->report().rows[0];
        ASSERT_TRUE(wav.verdict);
        EXPECT_TRUE(wav.verdict->pass) << wav.verdict->reason;
        // The 16-bit output's requantising may add a hundredth.
        EXPECT_NEAR(wav.after->integratedLufs - wav.before->integratedLufs, wav.plan.gainDb, 0.05 + 0.01);
        EXPECT_EQ(e.entries({"stage", "end"}), stages);
        EXPECT_EQ(e.entries({"written", "failed", "refused"}), "written 0, written 1, written 2");
        EXPECT_EQ(e.entries({"measured"}), mode == VolumeMode::PeakTrackGain ? "measured 0, measured 1, measured 2" : "");
        const std::string starts = "start 0, start 1, start 2";
        EXPECT_EQ(e.entries({"start"}), mode >= VolumeMode::ChangePercent ? starts : starts + ", " + starts);
        for (const std::string& source : e.settings.sources)
            EXPECT_GT(fs::file_size(e.out() / fs::path(source).filename()), 0u) << source;
        EXPECT_EQ(std::distance(fs::directory_iterator(e.out()), fs::directory_iterator()), 3) << "a file was left";
    }
}

// A file that cannot be decoded gets an error row and the others are measured; a normaliser that
// leaves the copies as they were makes every written row miss its level, also when it claims
// they were at the target already and the check takes its figures of the sources.
TEST(Engine, AnUndecodableFileIsAnErrorRowAndOutputsThatMissTheirPromiseAreMarked)
{
    EngineRun e;
    e.settings.sources = mixedList(e.dir.path());
    e.settings.mode = VolumeMode::RmsSingularly;
    e.settings.targetLufs = -24;
    JobSettings withBroken = e.settings;
    testsupport::writeFile(e.dir / "broken.wav", "RIFF but nothing else\n");
    withBroken.sources.insert(withBroken.sources.begin() + 1, (e.dir / "broken.wav").string());
    LoudnessCheck analysis(withBroken, e.host.Decoder());
    analysis.analyse();
    ASSERT_TRUE(waitFor([&] { return analysis.isOver(); }));
    for (const LoudnessReport::Row& row : analysis.report().rows)
        EXPECT_EQ(row.before.has_value(), row.error.empty()) << row.file << ": " << row.error;
    EXPECT_NE(analysis.report().rows[1].error, "");

    BlockHistogram atTarget;
    atTarget.addBlock(-24);
    const Measurement claim{atTarget.integratedLoudness(), 0, -30, -30, 1, atTarget};
    std::string claims;
    for (int row = 0; row < 3; ++row)
        claims += measure_line::formatFile(conversion_command::wavCopyPath(e.settings.scratchFolder, row), claim) + "\n";
    for (const bool claiming : {false, true}) {
        SCOPED_TRACE(claiming);
        fs::remove_all(e.out());
        fs::create_directories(e.out());
        e.tools.setFake(FakeToolFolder::Tool::Normalizer,
                        claiming ? FakeToolBehaviour::printing(claims) : FakeToolBehaviour::exitWith(0));
        e.run({}, true, claiming);
        for (const LoudnessReport::Row& row : e.check->report().rows) {
            SCOPED_TRACE(row.file);
            ASSERT_TRUE(row.verdict && row.before) << row.error << e.entries({""});
            EXPECT_EQ(row.before->integratedLufs == claim.integratedLufs, claiming);
            EXPECT_FALSE(row.verdict->pass);
            EXPECT_NE(row.verdict->reason.find("LUFS is not within 0.5 LU of -24.0 LUFS"), std::string::npos)
                << row.verdict->reason;
            // Written once more with the correction, which this normaliser ignores: reported, not looped.
            EXPECT_EQ(row.attempts, 2);
            EXPECT_TRUE(row.firstVerdict && !row.firstVerdict->pass);
        }
        EXPECT_NE(report_export::text(e.check->report(), report_export::Format::Csv).find(",miss,"), std::string::npos);
    }
}

// Sources measured while idle are taken by the next check as they are, until a file changes.
TEST(Engine, SourcesMeasuredOnceAreNotMeasuredAgainUntilTheyChange)
{
    EngineRun e;
    e.settings.sources = mixedList(e.dir.path());
    testsupport::writeFile(e.dir / "broken.wav", "RIFF but nothing else\n");
    e.settings.sources.push_back((e.dir / "broken.wav").string());
    KnownSourceLevels known(e.settings.meter, e.host.Decoder(), 60);
    known.measure(e.settings.sources);
    ASSERT_TRUE(waitFor([&] { return !known.busy(); }));
    LoudnessCheck analysis(e.settings, e.host.Decoder());
    analysis.takeKnown(&known);
    std::vector<std::string> measured;
    QObject::connect(&analysis, &LoudnessCheck::measuringStarted,
                     [&](const tool_contracts::MeasureInput& input) { measured.push_back(input.source); });
    analysis.analyse();
    ASSERT_TRUE(waitFor([&] { return analysis.isOver(); }));
    EXPECT_TRUE(measured.empty()) << measured.front();
    EXPECT_NE(analysis.report().rows[3].error, "");  // not known: tried again, and refused
    for (std::size_t row = 0; row < 3; ++row) {
        ASSERT_TRUE(analysis.report().rows[row].before) << row;
        EXPECT_EQ(analysis.report().rows[row].before->integratedLufs,
                  known.find(e.settings.sources[row])->integratedLufs);
    }
    fs::last_write_time(e.settings.sources[0], fs::last_write_time(e.settings.sources[0]) + std::chrono::seconds(1));
    EXPECT_FALSE(known.find(e.settings.sources[0]));
    EXPECT_TRUE(known.find(e.settings.sources[1]));
}

std::string hashes(const std::string& file)
{
    return testsupport::runCommand(FFMPEG_EXECUTABLE, {"-v", "error", "-i", file, "-map", "0", "-c", "copy", "-f",
                                                       "streamhash", "-"}).output;
}

// A row its plan finds close enough is a copy of its source's streams, packet for packet, and
// reported so; one that is not is re-encoded.
TEST(Engine, ARowLeftUnchangedIsAStreamCopyOfItsSource)
{
    EngineRun e;
    e.settings.sources = mixedList(e.dir.path());
    e.settings.mode = VolumeMode::ChangeGain;
    for (const auto& [gain, unchanged] : {std::pair{"-0.3", true}, std::pair{"-3", false}}) {
        SCOPED_TRACE(gain);
        fs::remove_all(e.out());
        fs::create_directories(e.out());
        e.settings.gain = gain;
        e.settings.leaveUnchanged.clear();
        LoudnessCheck analysis(e.settings, e.host.Decoder());
        analysis.analyse();
        ASSERT_TRUE(waitFor([&] { return analysis.isOver(); }));
        e.settings.leaveUnchanged = analysis.leaveUnchanged(0.5);
        EXPECT_EQ(e.settings.leaveUnchanged, std::vector<bool>(3, unchanged));
        EXPECT_EQ(report_export::text(analysis.report(), report_export::Format::Csv).find(",left unchanged,")
                      != std::string::npos, unchanged);
        e.run();
        for (const std::string& source : e.settings.sources) {
            const std::string output = (e.out() / fs::path(source).filename()).string();
            EXPECT_EQ(hashes(output) == hashes(source), unchanged) << source;
        }
    }
}

// Tags only: every written row is a stream copy of its source carrying the tags of its measured
// loudness and true peak (the album's too in album mode) once, in its container's form, any
// older loudness tag gone; formats with no place for them are refused, the rest written.
TEST(Engine, TagsOnlyWritesTheMeasuredLoudnessAsTagsOnStreamCopies)
{
    EngineRun e;
    std::vector<std::string>& sources = e.settings.sources;
    const std::pair<const char*, double> files[] = {
        {"a.wav", 0.2}, {"b.mp3", 0.5}, {"c.flac", 0.12}, {"d.m4a", 0.2}, {"e.ogg", 0.3}, {"f.opus", 0.08}};
    for (const auto& [name, amplitude] : files) {
        // Pink noise under a tone: a crest factor like music's. Old tags in every letter case.
        testsupport::makeMedia(e.dir / name, "anoisesrc=c=pink:r=44100:d=3:a=" + std::to_string(amplitude), {},
                               {"-af", "volume=1", "-metadata", "replaygain_track_gain=+9.00 dB", "-metadata",
                                "REPLAYGAIN_ALBUM_GAIN=+9.00 dB", "-metadata", "R128_Track_Gain=900"});
        sources.push_back((e.dir / name).string());
    }
    e.settings.writing = JobSettings::Writing::TagsOnly;
    auto tagsOf = [](const std::string& file) {
        std::map<std::string, std::string> tags;
        const std::string text = testsupport::runCommand(FFPROBE_EXECUTABLE, {"-v", "error", "-show_entries",
                                                         "format_tags:stream_tags", "-of", "default=nw=1", file}).output;
        for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
            end = std::min(text.find('\n', start), text.size());
            const std::string line = text.substr(start, end - start);
            if (const std::size_t equals = line.find('='); line.starts_with("TAG:") && equals != std::string::npos)
                tags[QString::fromStdString(line.substr(4, equals - 4)).toUpper().toStdString()] = line.substr(equals + 1);
        }
        return tags;
    };
    auto count = [](const std::string& file, const QString& key) {
        QFile f(QString::fromStdString(file));
        return f.open(QIODevice::ReadOnly) ? f.readAll().toUpper().count(key.toLatin1()) : -1;
    };
    for (VolumeMode mode : {VolumeMode::RmsSingularly, VolumeMode::RmsCollectively}) {
        SCOPED_TRACE(static_cast<int>(mode));
        fs::remove_all(e.out());
        fs::create_directories(e.out());
        e.settings.mode = mode;
        LoudnessCheck analysis(e.settings, e.host.Decoder());
        analysis.analyse();
        ASSERT_TRUE(waitFor([&] { return analysis.isOver(); }));
        e.settings.loudnessTags = analysis.tagLevels();
        e.run({}, true);
        EXPECT_EQ(e.entries({"stage", "end"}), "stage convert, end convert");
        EXPECT_EQ(e.entries({"written", "refused", "failed", "completed"}),
                  "refused 0, written 1, written 2, refused 3, written 4, written 5, completed");
        EXPECT_NE(e.errors[0].reason.find("(wav) has no place for loudness tags"), std::string::npos);
        EXPECT_NE(e.errors[3].reason.find("iTunes free-form"), std::string::npos);
        const LoudnessReport& report = analysis.report();
        const bool album = mode == VolumeMode::RmsCollectively;
        double albumPeak = -HUGE_VAL;
        for (const LoudnessReport::Row& row : report.rows)
            albumPeak = std::max(albumPeak, row.before->truePeakDbtp);
        for (std::size_t row : {1, 2, 4, 5}) {
            const std::string output = (e.out() / fs::path(sources[row]).filename()).string();
            SCOPED_TRACE(output);
            EXPECT_FALSE(report.rows[row].plan.limited || report.rows[row].plan.peakLimited);  // nothing limits tags
            EXPECT_EQ(hashes(output), hashes(sources[row]));
            const std::map<std::string, std::string> tags = tagsOf(output);
            const double track = report.rows[row].before->integratedLufs;
            const double set = report.sets.empty() ? NAN : report.sets.front().loudnessLufs;
            auto near = [&](const char* key, double expected, double scale, double within = 0.01) {
                ASSERT_TRUE(tags.count(key)) << key;
                EXPECT_NEAR(std::stod(tags.at(key)) / scale, expected, within) << key;
                EXPECT_EQ(count(output, key), 1) << key;
            };
            if (row == 5) {  // Opus: its R128 gains alone
                near("R128_TRACK_GAIN", -23 - track, 256);
                EXPECT_EQ(tags.count("R128_ALBUM_GAIN"), album ? 1u : 0u);
                if (album)
                    near("R128_ALBUM_GAIN", -23 - set, 256);
                EXPECT_EQ(count(output, "REPLAYGAIN_"), 0);
                continue;
            }
            near("REPLAYGAIN_TRACK_GAIN", -18 - track, 1);
            EXPECT_NE(tags.at("REPLAYGAIN_TRACK_GAIN").find(" dB"), std::string::npos);
            near("REPLAYGAIN_TRACK_PEAK", std::pow(10, report.rows[row].before->truePeakDbtp / 20), 1, 1e-6);
            EXPECT_EQ(count(output, "R128_"), 0);
            EXPECT_EQ(tags.count("REPLAYGAIN_ALBUM_GAIN"), album ? 1u : 0u);
            if (album) {
                near("REPLAYGAIN_ALBUM_GAIN", -18 - set, 1);
                near("REPLAYGAIN_ALBUM_PEAK", std::pow(10, albumPeak / 20), 1, 1e-6);
            }
            EXPECT_EQ(e.check->report().rows[row].tagsWritten.find("REPLAYGAIN_TRACK_GAIN="), 0u);
        }
    }
}

// With each folder a set, two folders of different loudness get two album gains (two levels in
// the average modes), each what the folder alone gets: in the plan, its sets and the outputs.
TEST(Engine, EachFolderIsASetAsIfItWereTheWholeList)
{
    EngineRun e;
    e.settings.targetLufs = -23;
    std::vector<std::string> all;
    for (const auto& [name, level] : {std::pair{"loud/a.flac", 0.3}, std::pair{"loud/b.flac", 0.12},
                                      std::pair{"quiet/c.flac", 0.02}, std::pair{"quiet/d.flac", 0.05}}) {
        const fs::path file = e.dir / name;
        fs::create_directories(file.parent_path());
        // Pink noise under clicks a few times a second: the crest factor of music.
        const std::string a = std::to_string(level), click = std::to_string(level * 3);
        testsupport::makeMedia(file, "anoisesrc=c=pink:r=44100:d=3:a=" + a + ",aformat=channel_layouts=stereo[n];"
                                     "aevalsrc=" + click + "*lt(mod(t\\,0.29)\\,0.0007)*sin(2*PI*3000*t):s=44100:d=3,"
                                     "aformat=channel_layouts=stereo[t];[n][t]amix=inputs=2:normalize=0[out0]");
        all.push_back(file.string());
    }
    struct Got {
        std::map<std::string, std::pair<double, double>> rows;  // by file: the planned gain, the loudness written
        std::vector<loudness_plan::Set> sets;
    };
    auto runOver = [&e](std::vector<std::string> sources, bool byFolder) {
        fs::remove_all(e.out());
        fs::create_directories(e.out());
        e.settings.sources = std::move(sources);
        e.settings.groupByFolder = byFolder;
        e.run({}, true);
        EXPECT_EQ(e.told.back(), "completed") << e.entries({""});
        Got got{{}, e.check->report().sets};
        for (const LoudnessReport::Row& row : e.check->report().rows) {
            EXPECT_TRUE(row.after && row.before) << row.file << ": " << row.error;
            if (!row.after || !row.before)
                continue;
            got.rows[row.file] = {row.plan.gainDb, row.after->integratedLufs};
            if (!row.plan.limited && !row.plan.peakLimited) {  // the plan is what the job did
                EXPECT_NEAR(row.after->integratedLufs - row.before->integratedLufs, row.plan.gainDb, 0.05 + 0.01);
            }
        }
        return got;
    };
    for (VolumeMode mode : {VolumeMode::RmsCollectively, VolumeMode::RmsWeighted, VolumeMode::RmsArithmetic}) {
        SCOPED_TRACE(static_cast<int>(mode));
        e.settings.mode = mode;
        const Got together = runOver(all, true);
        ASSERT_EQ(together.sets.size(), 2u);
        EXPECT_GT(std::abs(together.sets[0].loudnessLufs - together.sets[1].loudnessLufs), 6.0);
        if (mode == VolumeMode::RmsCollectively) {
            EXPECT_GT(std::abs(together.rows.at(all[0]).first - together.rows.at(all[2]).first), 6.0);
        }
        for (std::size_t folder = 0; folder < 2; ++folder) {
            const Got alone = runOver({all[2 * folder], all[2 * folder + 1]}, false);
            ASSERT_EQ(alone.sets.size(), 1u);
            EXPECT_EQ(together.sets[folder].group, fs::path(all[2 * folder]).parent_path().string());
            EXPECT_NEAR(together.sets[folder].loudnessLufs, alone.sets[0].loudnessLufs, 0.01);
            for (const auto& [file, figures] : alone.rows) {
                EXPECT_NEAR(together.rows.at(file).first, figures.first, 0.01) << file;
                EXPECT_NEAR(together.rows.at(file).second, figures.second, 0.01) << file;
            }
        }
    }
    // Loudness tags take each folder's album too: its loudness and its highest true peak.
    e.settings.mode = VolumeMode::RmsCollectively;
    e.settings.writing = JobSettings::Writing::TagsOnly;
    e.settings.sources = all;
    e.settings.groupByFolder = true;
    LoudnessCheck analysis(e.settings, e.host.Decoder());
    analysis.analyse();
    ASSERT_TRUE(waitFor([&] { return analysis.isOver(); }));
    const std::vector<std::optional<loudness_tags::Levels>>& levels = analysis.tagLevels();
    ASSERT_EQ(analysis.report().sets.size(), 2u);
    for (std::size_t row = 0; row < all.size(); ++row) {
        const std::size_t first = row / 2 * 2;
        ASSERT_TRUE(levels.at(row) && levels[row]->albumLufs && levels[first] && levels[first + 1]);
        EXPECT_EQ(*levels[row]->albumLufs, analysis.report().sets[row / 2].loudnessLufs);
        EXPECT_EQ(levels[row]->albumPeakDbtp, std::max(levels[first]->trackPeakDbtp, levels[first + 1]->trackPeakDbtp));
    }
}

TEST(Engine, CancelInEveryStageLeavesNoPartialOutputAndNoChild)
{
    using Stage = Job::Stage;
    for (Stage stage : {Stage::PeakMeasurement, Stage::WavExtraction, Stage::Normalisation, Stage::Conversion,
                        Stage::Check}) {
        SCOPED_TRACE(stageName(stage));
        EngineRun e;
        e.settings.sources = mixedList(e.dir.path());
        e.settings.mode = stage == Stage::PeakMeasurement ? VolumeMode::PeakTrackGain
                          : stage == Stage::Conversion    ? VolumeMode::ChangeGain
                          : stage == Stage::Check         ? VolumeMode::RmsSingularly
                                                          : VolumeMode::RmsCollectively;
        const FakeToolFolder::Tool hanging =
            stage == Stage::Normalisation ? FakeToolFolder::Tool::Normalizer : FakeToolFolder::Tool::Converter;
        // In the check, a row written again: its copies left as they were miss the target, and
        // the second conversion hangs.
        const bool redo = stage == Stage::Check;
        if (redo) {
            e.settings.targetLufs = -24;
            e.tools.setFake(FakeToolFolder::Tool::Normalizer, FakeToolBehaviour::exitWith(0));
        } else {
            e.tools.setFake(hanging, FakeToolBehaviour::hanging());
        }
        const std::size_t atWork = stage == Stage::Normalisation ? 1 : static_cast<std::size_t>(e.settings.filesAtOnce);
        std::vector<long> children;
        std::vector<std::string> written;
        bool swapped = false;
        e.run([&](Job& job) {
            if (redo && job.stage() == stage && !std::exchange(swapped, true))
                e.tools.setFake(hanging, FakeToolBehaviour::hanging());
            children = testsupport::descendantsOf(::getpid());
            if (job.stage() != stage || (redo ? e.tools.recordedRuns(hanging).empty() : children.size() < 2 * atWork))
                return false;  // every run at work, each with the child of its tool
            if (stage == Stage::WavExtraction || stage == Stage::Conversion || redo)
                for (const auto& run : e.tools.recordedRuns(hanging))
                    testsupport::writeFile(written.emplace_back(run.back()), "half a file");  // as if begun
            job.cancel();
            return true;
        }, redo, redo);

        EXPECT_EQ(e.told.back(), "cancelled");
        EXPECT_EQ(e.entries({"cancelled"}), "cancelled") << "told once";
        for (long pid : children)
            EXPECT_FALSE(testsupport::processAlive(pid)) << pid;
        for (const std::string& file : written)
            EXPECT_FALSE(fs::exists(file)) << file;
        // The first outputs of rows being written again stay as they were.
        EXPECT_EQ(std::distance(fs::directory_iterator(e.out()), fs::directory_iterator()), redo ? 3 : 0);
    }
}

TEST(Engine, WithOneFileAtOnceAnEndIsToldBeforeTheNextRowAndAFirstRowThatCannotBeOpenedShowsNoStage)
{
    EngineRun e;
    e.settings.filesAtOnce = 1;
    e.settings.sources = mixedList(e.dir.path());
    e.settings.mode = VolumeMode::PeakTrackGain;
    fs::remove(e.settings.sources[1]);

    // A front end shows the failure in a modal message: the event loop runs, nothing starts.
    bool messageUp = false;
    int runsDuringMessage = 0;
    e.run([&](Job& job) {
        QObject::connect(&job, &Job::toolStarted, [&] { runsDuringMessage += messageUp; });
        QObject::connect(&job, &Job::rowEnded, [&] {
            messageUp = true;
            QEventLoop message;
            QTimer::singleShot(300, &message, &QEventLoop::quit);
            message.exec();
            messageUp = false;
        });
        return true;
    });
    EXPECT_EQ(runsDuringMessage, 0);
    EXPECT_EQ(e.entries({"start", "measured", "failed", "written"}),
              "start 0, measured 0, start 1, measured 1, failed 1, start 2, measured 2, "
              "start 0, written 0, start 2, written 2");
    EXPECT_EQ(e.errors[1].kind, JobError::Kind::Tool);

    // The first row's probe fails: its end is the job's, before any stage or run.
    e.settings.mode = VolumeMode::ChangeGain;
    e.settings.sources = {e.settings.sources[1], e.settings.sources[0]};
    e.run();
    EXPECT_EQ(e.entries({""}), "failed 0, failed");
    EXPECT_EQ(e.errors[0].kind, JobError::Kind::Source);
    EXPECT_EQ(e.errors[0].message.rfind("File load error: ", 0), 0u) << e.errors[0].message;
}

TEST(Engine, AKilledProgramLeavesNoToolRunningAndTheNextJobRemovesItsHiddenFile)
{
    // The program killed: a bare job on the engine, and the command line.
    struct Victim {
        QString program;
        QStringList (*arguments)(const QString& output, const QString& source);
    };
    const Victim victims[] = {
        {QCoreApplication::applicationFilePath(),
         [](const QString& output, const QString& source) { return QStringList{"--victim", output, source}; }},
        {QStringLiteral(AURALON_TEST_BIN_DIR "/auralon-cli"),
         [](const QString& output, const QString& source) { return QStringList{"--gain=-3", "-q", "-o", output, source}; }},
    };
    for (const Victim& victim : victims) {
        SCOPED_TRACE(victim.program.toStdString());
        EngineRun e;
        const std::vector<std::string> sources = mixedList(e.dir.path());
        FakeToolBehaviour stalled = FakeToolBehaviour::printing("starting\n", 1);
        stalled.pauseMs = 600000;
        e.tools.setFake(FakeToolFolder::Tool::Converter, stalled);
        e.tools.useAsWindowsDirectory();
        QProcess program;
        program.start(victim.program, victim.arguments(QString::fromStdString(e.out().string()),
                                                       QString::fromStdString(sources[0])));
        ASSERT_TRUE(program.waitForStarted());
        std::vector<long> tools;
        ASSERT_TRUE(waitFor([&] {
            tools = testsupport::descendantsOf(program.processId());
            return !tools.empty() && !e.tools.recordedRuns(FakeToolFolder::Tool::Converter).empty();
        }));
        const fs::path hidden = e.tools.recordedRuns(FakeToolFolder::Tool::Converter).front().back();
        testsupport::writeFile(hidden, "half an output");
        // One of a live process (this one) stays.
        const fs::path live = e.out() / (".x.auralon-" + std::to_string(::getpid()) + "-0.part.wav");
        testsupport::writeFile(live, "kept");

        ::kill(static_cast<pid_t>(program.processId()), SIGKILL);
        ASSERT_TRUE(program.waitForFinished());
        for (long pid : tools)
            EXPECT_FALSE(testsupport::processAlive(pid)) << pid;
        EXPECT_TRUE(fs::exists(hidden));

        e.tools.linkReal(FakeToolFolder::Tool::Converter);
        e.settings.sources = {sources[1]};
        e.settings.mode = VolumeMode::ChangeGain;
        e.run();
        EXPECT_EQ(e.told.back(), "completed");
        EXPECT_FALSE(fs::exists(hidden));
        EXPECT_TRUE(fs::exists(live));
    }
}

}  // namespace

// With "--victim OUTPUT SOURCE": a program that runs one Gain job and nothing else, its tools
// those of $AURALON_WINDOWS_DIR, for a test to kill.
int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc == 4 && std::string_view(argv[1]) == "--victim") {
        TFFEncoder host;
        host.LoadFFmpeg("");
        JobSettings settings;
        settings.sources = {argv[3]};
        settings.mode = VolumeMode::ChangeGain;
        settings.outputFolder = argv[2];
        settings.converter = program_folders::converterPath();
        Job job(settings, host.Decoder());
        job.start();
        return QCoreApplication::exec();
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
