// Measuring files out of process, the plan against what the real tools then do, the verdicts
// on outputs and the report's files.
#include "analysis/MeasureWorker.h"
#include "analysis/ToolOutputParsers.h"
#include "base/SetGroups.h"
#include "conversion/ConversionCommand.h"
#include "media/TFFEncoder.h"
#include "report/LoudnessPlan.h"
#include "report/ReportExport.h"
#include "report/Verification.h"
#include "support/FakeToolFolder.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <map>
#include <sstream>
#include <sys/wait.h>

namespace fs = std::filesystem;
using conversion_command::VolumeMode;
using testsupport::TempDir;

namespace {

const std::string kConverter = FFMPEG_EXECUTABLE;
const std::string kNormaliser = AURALON_TEST_BIN_DIR "/qvx/client";
const std::string kMeter = AURALON_TEST_BIN_DIR "/qvx/meter";

QCoreApplication& app()
{
    static int argc = 1;
    static char name[] = "report_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

// Measures every input by one worker, one after another, as a check's pool does.
std::vector<MeasureResult> measureAll(const std::vector<tool_contracts::MeasureInput>& inputs, MeasureWorker& worker,
                                      int stallLimitMs = 0)
{
    app();
    std::vector<MeasureResult> results;
    QEventLoop loop;
    QObject::connect(&worker, &MeasureWorker::finished, &loop, [&](const MeasureResult& r) {
        results.push_back(r);
        if (results.size() < inputs.size())
            return worker.measure(inputs[results.size()], stallLimitMs);
        loop.quit();
    });
    worker.measure(inputs.front(), stallLimitMs);
    loop.exec();
    return results;
}

std::vector<MeasureResult> measureAll(const std::vector<tool_contracts::MeasureInput>& inputs,
                                      const std::string& program = kMeter)
{
    MeasureWorker worker(program);
    return measureAll(inputs, worker);
}

// The line of the converter's decoding piped into the normaliser's measuring mode, which the
// worker must print as well, to the last digit.
std::string pipedLine(const tool_contracts::MeasureInput& in)
{
    const QString format = in.samples == tool_contracts::RawSamples::S16 ? "s16le" : "f32le";
    QProcess decoder, meter;
    decoder.setStandardOutputProcess(&meter);
    decoder.start(QString::fromStdString(kConverter),
                  {"-nostdin", "-v", "error", "-i", QString::fromStdString(in.source), "-map", "0:a:0", "-ac",
                   QString::number(in.channels), "-ar", QString::number(in.sampleRate), "-f", format, "-"});
    meter.start(QString::fromStdString(kNormaliser),
                {"--measure", "--format=" + format, "--channels=" + QString::number(in.channels),
                 "--rate=" + QString::number(in.sampleRate), "--layout=" + QString::number(in.channelMask), "-"});
    decoder.waitForFinished(-1);
    meter.waitForFinished(-1);
    return meter.readAllStandardOutput().trimmed().toStdString();
}

// Noise under full-scale clicks a few times a second: the crest factor of music.
std::string music(const char* noise, double level, int rate, const char* layout, double seconds)
{
    const std::string s = std::to_string(seconds), r = std::to_string(rate);
    return std::string("anoisesrc=c=") + noise + ":r=" + r + ":d=" + s + ":a=" + std::to_string(level) +
           ",aformat=channel_layouts=" + layout + "[n];aevalsrc=0.95*lt(mod(t\\,0.29)\\,0.0007)*sin(2*PI*3000*t):s=" +
           r + ":d=" + s + ",aformat=channel_layouts=" + layout + "[t];[n][t]amix=inputs=2:normalize=0[out0]";
}

// What the normaliser's dry run says of each file: the gain, and whether its peaks are held.
struct Said {
    double gainDb = NAN;
    bool limited = false;
};
std::map<std::string, Said> dryRun(const std::vector<std::string>& args)
{
    std::map<std::string, Said> said;
    std::istringstream lines(testsupport::runCommand(kNormaliser, args).output);
    for (std::string line; std::getline(lines, line);) {
        const auto gain = line.find("gain would be "), colon = line.find(": not adjusting");
        if (gain != std::string::npos && colon != std::string::npos)
            said[fs::path(line.substr(0, colon)).filename().string()] =
                Said{std::stod(line.substr(gain + 14)), line.find("limited") != std::string::npos};
    }
    return said;
}

// The gain in dB of the volume filter the job's conversion applies.
double appliedVolume(const conversion_command::ConversionCommand& command)
{
    for (const std::string& arg : command.args)
        if (auto at = arg.find("volume="); at != std::string::npos)
            return std::stod(arg.substr(at + 7));
    return 0;
}

}  // namespace

// The planned gains are those the normaliser decides over the job's own WAV copies (every RMS
// mode, with and without the limiter, the whole list or each folder a set) and those the
// converter's peak report gives the job.
TEST(LoudnessPlan, EqualsWhatTheToolsThenDo)
{
    TempDir dir;
    for (const char* folder : {"copies", "one", "two"})
        fs::create_directory(dir / folder);
    struct Source {
        const char* name;
        std::string lavfi;
        std::vector<std::string> args;
    } sources[] = {
        {"music.wav", music("pink", 0.08, 44100, "stereo", 6), {"-c:a", "pcm_s16le"}},
        {"hot.mp3", music("pink", 0.5, 44100, "stereo", 5), {"-c:a", "libmp3lame", "-b:a", "192k"}},
        {"surround.flac", music("brown", 0.03, 48000, "5.1", 5), {"-c:a", "flac", "-sample_fmt", "s32"}},
        {"tone.wav", "sine=f=330:r=48000:d=4,volume=-9dB", {"-c:a", "pcm_s16le"}},
        {"short.wav", "sine=f=330:d=0.3", {}},
    };
    TFFEncoder host;
    ASSERT_TRUE(host.LoadFFmpeg("")) << host.LastError();
    std::vector<tool_contracts::MeasureInput> inputs;
    std::vector<ProbeFacts> probes;
    std::vector<loudness_plan::File> files;
    std::vector<fs::path> paths;
    std::vector<std::string> groups;  // the sources lie in two folders, turn about
    std::map<std::string, std::vector<std::string>> copies;
    for (std::size_t i = 0; i < std::size(sources); ++i) {
        const fs::path file = paths.emplace_back(dir / (i % 2 ? "two" : "one") / sources[i].name);
        groups.emplace_back(set_groups::groupOf(file.string(), true));
        const std::string copy = copies[groups.back()].emplace_back(
            conversion_command::wavCopyPath((dir / "copies/").string(), int(i)));
        testsupport::makeMedia(file, sources[i].lavfi, {}, sources[i].args);
        ASSERT_TRUE(host.Decoder().LoadFile(file.string())) << host.Decoder().LastErrorMessage();
        probes.push_back(probeFactsOf(host.Decoder()));
        std::string why;
        inputs.push_back(*MeasureWorker::sourceInput(file.string(), probes.back(), why));
        testsupport::ffmpeg(conversion_command::wavExtractionArgs(file.string(), copy, probes.back()));
    }
    EXPECT_EQ(inputs[1].samples, tool_contracts::RawSamples::S16);  // as its copy holds it
    EXPECT_EQ(inputs[2].samples, tool_contracts::RawSamples::F32);
    const std::vector<MeasureResult> measured = measureAll(inputs);
    for (std::size_t i = 0; i < measured.size(); ++i) {
        ASSERT_TRUE(measured[i].measurement) << measured[i].message();
        EXPECT_EQ(measure_line::format(*measured[i].measurement), pipedLine(inputs[i])) << sources[i].name;
        files.push_back({measured[i].measurement, loudness_plan::copyHeadroom(probes[i]), std::nullopt});
    }

    const std::pair<VolumeMode, tool_contracts::NormalizerMode> modes[] = {
        {VolumeMode::RmsSingularly, tool_contracts::NormalizerMode::Singularly},
        {VolumeMode::RmsCollectively, tool_contracts::NormalizerMode::Collectively},
        {VolumeMode::RmsWeighted, tool_contracts::NormalizerMode::WeightedAverage},
        {VolumeMode::RmsArithmetic, tool_contracts::NormalizerMode::ArithmeticAverage}};
    for (const auto& [mode, normaliserMode] : modes)
        for (bool limiter : {true, false})
        for (bool byFolder : {false, true}) {
            SCOPED_TRACE(std::string(tool_contracts::normalizerFlag(normaliserMode)) + (limiter ? " limiter" : "")
                         + (byFolder ? " by folder" : ""));
            const loudness_plan::Settings settings{mode, 100, 0, -16, -1, limiter, true};
            tool_contracts::NormalizerLevels levels{tool_contracts::kLoudnessTargets[1], limiter, true};
            std::vector<std::vector<std::string>> runs{tool_contracts::normalizerArgs(normaliserMode, levels, (dir / "copies").string())};
            if (byFolder)
                runs = {tool_contracts::normalizerSetArgs(normaliserMode, levels, copies.begin()->second),
                        tool_contracts::normalizerSetArgs(normaliserMode, levels, copies.rbegin()->second)};
            std::map<std::string, Said> said;
            for (std::vector<std::string>& args : runs) {
                args.insert(args.begin(), "-n");
                said.merge(dryRun(args));
            }
            const loudness_plan::Plan plan = loudness_plan::make(settings, files, byFolder ? groups : std::vector<std::string>{});
            EXPECT_EQ(plan.sets.size(), mode == VolumeMode::RmsSingularly ? 0u : byFolder ? 2u : 1u);
            for (std::size_t i = 0; i < files.size(); ++i) {
                SCOPED_TRACE(sources[i].name);
                const loudness_plan::Row& row = plan.rows[i];
                const auto it = said.find(std::to_string(i) + ".wav");
                ASSERT_EQ(it != said.end(), row.loudnessAfterLufs.has_value());  // the short file has none
                if (it == said.end())
                    continue;
                EXPECT_NEAR(row.changes ? row.gainDb : 0.0, row.changes ? it->second.gainDb : 0.0, 0.006);
                EXPECT_EQ(row.limited || row.peakLimited, it->second.limited);
                EXPECT_EQ(row.limitedByDb > 0, row.limited);
            }
        }

    for (std::size_t i = 0; i + 1 < std::size(sources); ++i) {
        SCOPED_TRACE(sources[i].name);
        const testsupport::CommandResult report =
            testsupport::runCommand(kConverter, tool_contracts::peakMeasurementArgs(paths[i].string()));
        std::optional<std::string> cell;
        std::istringstream lines(report.output);
        for (std::string line; std::getline(lines, line) && !cell;)
            cell = tool_output::peakGainText(line);
        ASSERT_TRUE(cell) << report.output;
        conversion_command::ConversionRequest request;
        request.mode = VolumeMode::PeakTrackGain;
        request.sourcePath = paths[i].string();
        request.peakGain = PeakGain::fromText(*cell);
        request.outputFolder = (dir / "out").string();
        request.probe = probes[i];
        const auto job = conversion_command::buildConversion(request);
        ASSERT_TRUE(job.command) << job.refusal;
        const loudness_plan::Plan plan = loudness_plan::make({VolumeMode::PeakTrackGain}, files);
        EXPECT_NEAR(plan.rows[i].gainDb, appliedVolume(*job.command), 0.001) << *cell;
    }
}

// A file that the decoder cannot read fails its own measuring with FFmpeg's words (those the
// converter prints for it) and the worker goes on; a worker that crashes or answers nonsense
// fails the file it measured and the next file gets a fresh one; a cancel leaves no process
// and no descriptor behind.
TEST(MeasureWorker, FailsOnlyItsOwnFileAndCancelsCleanly)
{
    TempDir dir;
    testsupport::makeMedia(dir / "good.flac", music("pink", 0.1, 44100, "stereo", 2), {}, {});
    testsupport::writeFile(dir / "garbage.mp3", std::string(20000, '\x5a'));
    auto input = [&](const char* name) {
        return tool_contracts::MeasureInput{(dir / name).string(), 0, 2, 44100, 3, tool_contracts::RawSamples::F32};
    };
    const std::vector<MeasureResult> results = measureAll({input("garbage.mp3"), input("good.flac")});
    EXPECT_FALSE(results[0].measurement);
    EXPECT_NE(results[0].message().find("garbage.mp3: cannot open the file: Invalid argument"), std::string::npos)
        << results[0].message();
    ASSERT_TRUE(results[1].measurement) << results[1].message();
    EXPECT_NEAR(results[1].measurement->seconds, 2.0, 0.001);

    using Tool = testsupport::FakeToolFolder::Tool;
    testsupport::FakeToolFolder tools;
    const std::string worker = tools.toolPath(Tool::Meter);
    for (const auto& [fake, reason] : {std::pair{testsupport::FakeToolBehaviour::crashWith(SIGSEGV), "signal 11"},
                                       std::pair{testsupport::FakeToolBehaviour::printing("measured\tI=1\n"),
                                                 "printed no measurement"},
                                       std::pair{testsupport::FakeToolBehaviour::hanging(),
                                                 "stopped responding: no progress for 1 s."}}) {
        SCOPED_TRACE(reason);
        tools.setFake(Tool::Meter, fake);
        MeasureWorker measuring(worker);
        EXPECT_NE(measureAll({input("good.flac")}, measuring, 500)[0].reason.find(reason), std::string::npos);
        tools.linkReal(Tool::Meter);
        EXPECT_TRUE(measureAll({input("good.flac")}, measuring)[0].measurement);
    }
    EXPECT_NE(measureAll({input("good.flac")}, dir.str() + "/none")[0].reason.find("cannot start"), std::string::npos);

    tools.setFake(Tool::Meter, testsupport::FakeToolBehaviour::hanging());
    const auto descriptors = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
    const auto before = descriptors();
    {
        MeasureWorker hanging(worker);
        hanging.measure(input("good.flac"));
        hanging.cancel();
        EXPECT_FALSE(hanging.busy());
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(descriptors(), before);
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(Verification, MarksWhatMissesItsPromise)
{
    auto m = [](double lufs, double truePeak, double samplePeak) {
        return Measurement{lufs, 0, truePeak, samplePeak, 10, {}};
    };
    loudness_plan::Row rms;
    rms.planned = rms.changes = true;
    rms.gainDb = 6;
    rms.loudnessAfterLufs = -14;
    loudness_plan::Row gain = rms;
    gain.loudnessAfterLufs.reset();
    struct Row {
        const char* name;
        VolumeMode mode;
        loudness_plan::Row plan;
        Measurement source, output;
        bool lossy;
        const char* miss;  // "" when it passes
        double mendGain = 0, mendDrop = 0;  // its correction
    } rows[] = {
        {"rms at its level", VolumeMode::RmsCollectively, rms, m(-20, -7, -7), m(-14.4, -1.0, -1.2), false, ""},
        {"rms short of it", VolumeMode::RmsSingularly, rms, m(-20, -7, -7), m(-14.6, -1.5, -2), false, "loudness -14.6", 0.6},
        {"rms short and over", VolumeMode::RmsSingularly, rms, m(-20, -7, -7), m(-13.3, 0.6, 0), false,
         "loudness -13.3 LUFS is not within 0.5 LU of -14.0 LUFS; true peak 0.6 dBTP is over -1.0 dBTP", -0.7, 1.6},
        {"rms over the ceiling", VolumeMode::RmsSingularly, rms, m(-20, -7, -7), m(-14, -0.8, -1), false, "true peak -0.8", 0, 0.2},
        {"lossy peaks a little over", VolumeMode::RmsWeighted, rms, m(-20, -7, -7), m(-14, -0.6, -1), true, ""},
        {"lossy peaks far over", VolumeMode::RmsArithmetic, rms, m(-20, -7, -7), m(-14, -0.4, -1), true, "true peak", 0, 0.6},
        {"peak at full scale", VolumeMode::PeakTrackGain, gain, m(-20, -5, -6), m(-14, 0.4, -0.05), false, ""},
        {"peak over full scale", VolumeMode::PeakTrackGain, gain, m(-20, -5, -6), m(-14, 0.4, 0.2), false, "sample peak 0.2", 0, 0.2},
        {"gain as asked", VolumeMode::ChangeGain, gain, m(-20, -5, -6), m(-13.85, 1, 0), false, ""},
        {"gain clipped", VolumeMode::ChangeGain, gain, m(-20, -5, -6), m(-14.5, 0, 0), false, "changed by 5.5 dB"},
        {"percent on silence", VolumeMode::ChangePercent, gain, m(-HUGE_VAL, -50, -50), m(-HUGE_VAL, -44, -44.1), false, ""},
    };
    for (const Row& row : rows) {
        const verification::Verdict v = verification::check({row.mode, 100, 0, -14, -1}, row.plan, row.source, row.output, row.lossy);
        EXPECT_EQ(v.pass, !*row.miss) << row.name << ": " << v.reason;
        EXPECT_NE(v.reason.find(row.miss), std::string::npos) << row.name << ": " << v.reason;
        const std::optional<verification::Correction> mend =
            verification::correction({row.mode, 100, 0, -14, -1}, row.plan, row.output, v);
        EXPECT_NEAR(mend ? mend->gainDb : 0, row.mendGain, 1e-9) << row.name;
        EXPECT_NEAR(mend ? mend->ceilingDropDb : 0, row.mendDrop, 1e-9) << row.name;
    }
    loudness_plan::Row small = rms, limited = rms;
    small.gainDb = 0.3;
    limited.gainDb = 0.1;
    limited.limited = true;
    EXPECT_TRUE(verification::leaveUnchanged(small, 0.5, false));
    EXPECT_FALSE(verification::leaveUnchanged(small, 0.5, true));  // a format conversion
    EXPECT_FALSE(verification::leaveUnchanged(rms, 0.5, false));
    EXPECT_FALSE(verification::leaveUnchanged(limited, 0.5, false));
    EXPECT_FALSE(verification::leaveUnchanged(loudness_plan::Row{}, 0.5, false));  // no plan
}

// CSV and JSON read back to the figures the table shows; names with separators survive.
TEST(ReportExport, CsvAndJsonReadBackToTheSameFigures)
{
    LoudnessReport report;
    report.settings.mode = VolumeMode::RmsCollectively;
    report.sets = {{"/music", -17.234}};  // the folder's album
    LoudnessReport::Row a;
    a.file = "/music/a, \"live\".flac";
    a.before = Measurement{-18.456, 7.25, -0.904, -1.5, 183.0004, {}};
    a.plan.planned = a.plan.changes = a.plan.limited = true;
    a.plan.gainDb = 4.234;
    a.plan.loudnessAfterLufs = -14.222;
    a.plan.truePeakAfterDbtp = 3.33;
    a.plan.limitedByDb = 4.48;
    a.after = Measurement{-14.1, 6.9, -1.02, -1.2, 183, {}};
    a.verdict = verification::Verdict{false, "true peak -1.0 dBTP is over -1.0 dBTP"};
    a.attempts = 2;
    a.firstVerdict = verification::Verdict{false, "loudness -13.3 LUFS is not within 0.5 LU of -14.2 LUFS"};
    LoudnessReport::Row b;
    b.file = "/music/silence.wav";
    b.before = Measurement{-HUGE_VAL, 0, -HUGE_VAL, -HUGE_VAL, 3, {}};
    b.plan.planned = true;
    b.plan.note = "silent";
    b.leftUnchanged = true;
    LoudnessReport::Row c;
    c.file = "/music/broken.mp3";
    c.error = "Cannot measure /music/broken.mp3: Invalid data found when processing input";
    report.rows = {a, b, c};

    TempDir dir;
    for (const char* name : {"r.csv", "r.json"})
        ASSERT_EQ(report_export::write(report, (dir / name).string()), "");
    EXPECT_NE(report_export::write(report, (dir / "r.txt").string()), "");
    EXPECT_EQ(report_export::formatOf("x/R.JSONL"), report_export::Format::JsonLines);
    EXPECT_EQ(report_export::formatOf("x.tsv"), report_export::Format::Tsv);
    EXPECT_FALSE(report_export::formatOf("csv"));

    // The CSV, split as RFC 4180 says.
    std::vector<std::vector<std::string>> csv(1, std::vector<std::string>(1));
    const std::string text = testsupport::readFile(dir / "r.csv");
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"')
            for (++i; !(text[i] == '"' && text[i + 1] != '"'); ++i)
                csv.back().back() += text[i] == '"' ? text[++i] : text[i];
        else if (text[i] == ',')
            csv.back().emplace_back();
        else if (text[i] == '\n' && i + 1 < text.size())
            csv.emplace_back(1);
        else if (text[i] != '\n')
            csv.back().back() += text[i];
    }
    const QJsonArray json = QJsonDocument::fromJson(QByteArray::fromStdString(testsupport::readFile(dir / "r.json")))
                                .object()["rows"].toArray();
    ASSERT_EQ(csv.size(), 5u);
    ASSERT_EQ(json.size(), 4);
    const std::vector<std::string>& header = csv[0];
    auto cell = [&](int row, const std::string& column) {
        return csv[std::size_t(row) + 1][std::size_t(std::find(header.begin(), header.end(), column) - header.begin())];
    };
    auto value = [&](int row, const std::string& column) { return json[row].toObject()[QString::fromStdString(column)]; };
    struct Expect {
        int row;
        const char* column;
        const char* shown;  // as the table shows it; "" for unknown
    } expected[] = {
        {0, "file", "/music/a, \"live\".flac"}, {0, "loudness_lufs", "-18.46"}, {0, "range_lu", "7.25"},
        {0, "true_peak_dbtp", "-0.90"}, {0, "duration_s", "183.000"}, {0, "gain_db", "4.23"},
        {0, "limited", "yes"}, {0, "limited_by_db", "4.48"}, {0, "expected_lufs", "-14.22"},
        {0, "after_loudness_lufs", "-14.10"}, {0, "verdict", "miss"}, {0, "attempts", "2"},
        {0, "first_verdict", "miss"}, {0, "first_reason", "loudness -13.3 LUFS is not within 0.5 LU of -14.2 LUFS"},
        {2, "attempts", ""}, {1, "true_peak_dbtp", "-inf"},
        {1, "gain_db", "0.00"}, {1, "verdict", "left unchanged"}, {1, "reason", "silent"}, {2, "loudness_lufs", ""},
        {2, "verdict", "failed"}, {3, "kind", "set"}, {3, "file", "/music"}, {3, "loudness_lufs", "-17.23"},
    };
    for (const Expect& e : expected) {
        SCOPED_TRACE(std::to_string(e.row) + " " + e.column);
        EXPECT_EQ(cell(e.row, e.column), e.shown);
        const QJsonValue v = value(e.row, e.column);
        if (v.isDouble())
            EXPECT_EQ(v.toDouble(), std::stod(e.shown));
        else if (v.isBool())
            EXPECT_EQ(v.toBool() ? "yes" : "no", std::string(e.shown));
        else if (v.isNull())
            EXPECT_TRUE(std::string(e.shown).empty() || std::string(e.shown) == "-inf");
        else
            EXPECT_EQ(v.toString().toStdString(), e.shown);
    }
}
