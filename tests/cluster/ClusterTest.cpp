// A job spread over shards: the merged plan is the same however the scan was split, an apply
// killed halfway finishes what is left without writing anything twice, a source deleted or
// changed since its scan fails its row alone, and damaged, foreign or differently rooted
// records are refused by name with nothing written. Runs auralon-cli as a cluster node would.
#include "records/RecordFiles.h"
#include "records/ScanRecord.h"
#include "records/SetPlan.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>

#include <fstream>
#include <map>
#include <set>

namespace fs = std::filesystem;
using testsupport::runCommand;

namespace {

const std::string kProgram = AURALON_TEST_BIN_DIR "/auralon-cli";

// QProcess, to kill a run halfway, wants an application.
struct Application : ::testing::Environment {
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "cluster_test";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override { app.reset(); }
    std::unique_ptr<QCoreApplication> app;
};
[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new Application);

// Real crest factors, two folders (a name in both), a lossy file, one too short to gate and
// one that no decoder reads.
void makeSet(const fs::path& root)
{
    auto music = [](const char* colour, double amplitude, int seconds) {
        return std::string("anoisesrc=c=") + colour + ":a=" + std::to_string(amplitude) + ":d=" + std::to_string(seconds)
               + ",lowpass=f=6000,volume='0.6+0.4*sin(2*PI*0.7*t)':eval=frame";
    };
    fs::create_directories(root / "a");
    fs::create_directories(root / "b");
    testsupport::makeMedia(root / "a/song.wav", music("pink", 0.1, 5), {}, {"-ac", "2"});
    testsupport::makeMedia(root / "a/hot.flac", music("white", 0.6, 4));
    testsupport::makeMedia(root / "b/song.wav", music("brown", 0.05, 6), {}, {"-ac", "2"});
    testsupport::makeMedia(root / "b/talk.mp3", music("pink", 0.2, 3), {}, {"-c:a", "libmp3lame", "-b:a", "128k"});
    testsupport::makeMedia(root / "b/blip.wav", "sine=f=330:d=0.3");
    testsupport::writeFile(root / "b/broken.wav", "RIFF....WAVEfmt not really");
}

testsupport::CommandResult cli(std::vector<std::string> args)
{
    return runCommand(kProgram, args, 300000);
}

// Scans the set in `shards` runs, one per shard, as separate machines would.
void scan(const fs::path& root, const fs::path& records, int shards)
{
    for (int i = 1; i <= shards; ++i) {
        const auto run = cli({"scan", "-q", "--records=" + records.string(), "--root=" + root.string(),
                              "--shard=" + std::to_string(i) + "/" + std::to_string(shards), (root / "a").string(),
                              (root / "b").string()});
        ASSERT_EQ(run.exitCode, run.output.find("broken.wav") != std::string::npos ? 1 : 0) << run.output;
    }
}

// The plan of the records, without --root when `root` is empty (the records' own).
set_plan::Plan merged(const fs::path& records, const fs::path& root, const fs::path& out,
                      const std::vector<std::string>& mode)
{
    const fs::path planFile = records.string() + ".plan";
    std::vector<std::string> args{"merge", "--records=" + records.string(), "--plan=" + planFile.string(),
                                  "-o", out.string()};
    if (!root.empty())
        args.push_back("--root=" + root.string());
    args.insert(args.end(), mode.begin(), mode.end());
    const auto run = cli(args);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    std::string error;
    std::optional<set_plan::Plan> plan = set_plan::read(planFile.string(), error);
    EXPECT_TRUE(plan) << error;
    return plan.value_or(set_plan::Plan{});
}

TEST(Cluster, MergeGivesOneMachinesPlanHoweverTheScanWasSplit)
{
    testsupport::TempDir dir;
    makeSet(dir / "src");
    fs::create_directory(dir / "out");
    for (int shards : {1, 2, 5})
        scan(dir / "src", dir / ("rec" + std::to_string(shards)), shards);
    // A scan again measures nothing: every record is current.
    const auto again = cli({"scan", "--records=" + (dir / "rec1").string(), "--root=" + (dir / "src").string(),
                            (dir / "src/a").string()});
    EXPECT_EQ(again.output.find("measured\t"), std::string::npos) << again.output;
    EXPECT_NE(again.output.find("current\t"), std::string::npos) << again.output;
    // Older records of every key, read last and each with another file's measurement: the
    // newest of a key is kept, and only its blocks count.
    fs::copy(dir / "rec1", dir / "rec1older");
    std::vector<ScanRecord> read;
    record_files::forEachLine((dir / "rec1/scan-1-of-1.jsonl").string(), [&](std::string_view line, bool) {
        read.push_back(scan_record::parse(line).value());
        return true;
    });
    for (std::size_t i = 0; i < read.size(); ++i) {
        ScanRecord older = read[(i + 1) % read.size()];
        older.key = read[i].key;
        older.mtimeNs = read[i].mtimeNs - 1;
        record_files::append((dir / "rec1older/zz-older.jsonl").string(), scan_record::line(older));
    }

    const std::vector<std::vector<std::string>> modes{
        {"--album"}, {"--album", "--group-by=folder"}, {"--weighted", "--no-limiter"}, {"--arithmetic", "--target=-18"}};
    for (const auto& mode : modes) {
        SCOPED_TRACE(mode.front() + (mode.size() > 1 ? " " + mode[1] : ""));
        const set_plan::Plan one = merged(dir / "rec1", dir / "src", dir / "out", mode);
        ASSERT_EQ(one.rows.size(), 6u);
        EXPECT_EQ(one.sets.size(), mode.size() > 1 && mode[1] == "--group-by=folder" ? 2u : 1u);
        // Two song.wav: the second gets its number; the broken file has its reason and no output.
        EXPECT_EQ(one.rows[1].output, (dir / "out/song.wav").string());
        EXPECT_EQ(one.rows[4].output, (dir / "out/song (2).wav").string());
        EXPECT_TRUE(one.rows[3].output.empty());
        EXPECT_FALSE(one.rows[3].error.empty());
        EXPECT_FALSE(one.rows[2].plan.loudnessAfterLufs);  // too short to have a loudness
        // Merged from elsewhere without --root: the keys are relative to the records' root.
        for (const char* records : {"rec2", "rec5", "rec1older"}) {
            const set_plan::Plan split = merged(dir / records, {}, dir / "out", mode);
            ASSERT_EQ(split.rows.size(), one.rows.size());
            for (std::size_t i = 0; i < one.rows.size(); ++i) {
                EXPECT_EQ(split.rows[i].source, one.rows[i].source);
                EXPECT_EQ(split.rows[i].output, one.rows[i].output);
                EXPECT_NEAR(split.rows[i].plan.gainDb, one.rows[i].plan.gainDb, 0.01) << one.rows[i].key;
                EXPECT_EQ(split.rows[i].plan.limited, one.rows[i].plan.limited);
            }
            for (std::size_t s = 0; s < one.sets.size(); ++s)
                EXPECT_NEAR(split.sets.at(s).loudnessLufs, one.sets[s].loudnessLufs, 0.01);
        }
    }
}

TEST(Cluster, ApplyKilledHalfwayWritesTheRestOnceAndLeavesNoPartialFile)
{
    testsupport::TempDir dir;
    makeSet(dir / "src");
    fs::create_directory(dir / "out");
    scan(dir / "src", dir / "rec", 1);
    const set_plan::Plan plan = merged(dir / "rec", dir / "src", dir / "out", {"--album", "--format=mp3"});
    const std::string planFile = (dir / "rec").string() + ".plan";

    // Killed when its first row is written, in the middle of the next.
    QProcess apply;
    apply.start(QString::fromStdString(kProgram), {"apply", "-j1", "--shard=1/1", QString::fromStdString("--plan=" + planFile)});
    ASSERT_TRUE(apply.waitForStarted());
    std::string said;
    while (said.find("written\t") == std::string::npos && apply.waitForReadyRead(120000))
        said += apply.readAllStandardOutput().toStdString();
    apply.kill();
    apply.waitForFinished();
    ASSERT_NE(said.find("written\t"), std::string::npos);
    std::map<std::string, fs::file_time_type> first;
    for (const auto& entry : fs::directory_iterator(dir / "out"))
        first[entry.path().filename().string()] = entry.last_write_time();

    const auto rerun = cli({"apply", "--plan=" + planFile, "--report=" + (dir / "report.json").string()});
    EXPECT_EQ(rerun.exitCode, 1) << rerun.output;  // the broken file
    std::set<std::string> written;
    for (const auto& entry : fs::directory_iterator(dir / "out")) {
        const std::string name = entry.path().filename().string();
        written.insert(name);
        if (first.count(name)) {
            EXPECT_EQ(entry.last_write_time(), first[name]) << name << " written again";
        }
    }
    std::set<std::string> planned;
    for (const set_plan::Row& row : plan.rows)
        if (!row.output.empty())
            planned.insert(fs::path(row.output).filename().string());
    EXPECT_EQ(written, planned);  // nothing hidden or half-written beside them
    const std::vector<std::optional<set_plan::Applied>> applied = set_plan::readApplied(planFile, plan.rows.size());
    for (std::size_t i = 0; i < plan.rows.size(); ++i)
        EXPECT_EQ(applied[i] && applied[i]->written, !plan.rows[i].output.empty()) << plan.rows[i].key;
    EXPECT_NE(testsupport::readFile(dir / "report.json").find("\"set\""), std::string::npos);
}

// The text with the first value of a field replaced.
std::string withField(const std::string& text, const std::string& field, const std::string& value)
{
    const std::size_t start = text.find("\"" + field + "\":\"") + field.size() + 4;
    return text.substr(0, start) + value + text.substr(text.find('"', start));
}

// Applied after one source was deleted and one rewritten: those rows fail with their reasons
// before any tool runs, the others are written; with one file at a time and two, a job per row
// (album) and one job of all rows (track).
TEST(Cluster, RowsWhoseSourceChangedSinceTheScanFailAndTheOthersAreWritten)
{
    testsupport::TempDir dir;
    makeSet(dir / "src");
    scan(dir / "src", dir / "rec", 1);
    fs::remove(dir / "src/a/hot.flac");
    fs::remove(dir / "src/b/song.wav");
    testsupport::makeMedia(dir / "src/b/song.wav", "sine=f=440:d=2");
    const std::string planFile = (dir / "rec").string() + ".plan";
    for (const char* mode : {"--album", "--track"})
        for (const char* jobs : {"-j1", "-j2"}) {
            SCOPED_TRACE(std::string(mode) + " " + jobs);
            const fs::path out = dir / (std::string("out") + mode + jobs);
            fs::create_directory(out);
            const set_plan::Plan plan = merged(dir / "rec", {}, out, {mode});
            fs::remove(set_plan::appliedFile(planFile, 0, 1));
            const auto run = cli({"apply", jobs, "--plan=" + planFile});
            EXPECT_EQ(run.exitCode, 1) << run.output;
            for (const set_plan::Row& row : plan.rows) {
                const bool deleted = row.key == "a/hot.flac";
                const bool rewritten = row.key == "b/song.wav";
                if (deleted || rewritten) {
                    EXPECT_NE(run.output.find(row.source + (deleted ? ": it was deleted after its scan"
                                                                    : ": it has changed since its scan (size ")),
                              std::string::npos) << run.output;
                }
                EXPECT_EQ(fs::exists(row.output), !row.output.empty() && !deleted && !rewritten) << row.key;
            }
        }
}

TEST(Cluster, DamagedOrForeignRecordsAreRefusedByNameAndNothingIsWritten)
{
    testsupport::TempDir dir;
    makeSet(dir / "src");
    scan(dir / "src", dir / "good", 2);
    const fs::path file = dir / "good/scan-2-of-2.jsonl";
    const std::string text = testsupport::readFile(file);
    const struct {
        const char* what;
        std::string damaged;
        std::string line;  // the record's line, named in the message
        std::string why;
        int exitCode = 1;
    } cases[] = {
        {"truncated", text.substr(0, text.size() - 40), std::to_string(std::count(text.begin(), text.end(), '\n')),
         "truncated record"},
        {"foreign version", withField(text, "version", "0.0.1"), "1", "made by version 0.0.1"},
        {"other settings", withField(text, "settings", "0123456789abcdef"), "1", "measured with other settings"},
        // Without --root, records of two roots name them.
        {"two roots", withField(text, "root", "/elsewhere"), "1", "records of the root /elsewhere", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir / "bad");
        fs::copy(dir / "good", dir / "bad");
        testsupport::writeFile(dir / "bad/scan-2-of-2.jsonl", c.damaged);
        const fs::path planFile = dir / "plan.jsonl";
        const auto run = cli({"merge", "--records=" + (dir / "bad").string(), "--plan=" + planFile.string(), "--album",
                              "-o", dir.str()});
        EXPECT_EQ(run.exitCode, c.exitCode);
        const std::size_t named = run.output.find((dir / "bad/scan-2-of-2.jsonl").string() + ":" + c.line + ": ");
        ASSERT_NE(named, std::string::npos) << run.output;
        EXPECT_NE(run.output.find(c.why, named), std::string::npos) << run.output;
        EXPECT_FALSE(fs::exists(planFile));
    }
}

}  // namespace
