// auralon-cli: its arguments as a table, whole jobs run through the program as a script runs
// them (exit status, outputs, their levels), the same tool commands as the window's job, and
// a job stopped by a signal. The program's scratch folder is build/bin's.
#include "JobHarness.h"

#include "app/Toptions.h"
#include "cli/CliArguments.h"
#include "support/TestMedia.h"
#include "support/gui/GuiApplication.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;
using testsupport::FakeToolBehaviour;
using testsupport::FakeToolFolder;

namespace {

[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new testsupport::GuiApplication);

const std::string kProgram = AURALON_TEST_BIN_DIR "/auralon-cli";
const fs::path kScratch = AURALON_TEST_BIN_DIR "/tmp/";

// The options that differ from a plain "-o out a", as one text: "mode=1 gain=-3 jobs=2".
std::string changed(const CliOptions& o)
{
    const CliOptions plain;
    std::ostringstream s;
    s << (o.mode != plain.mode ? " mode=" + std::to_string(int(o.mode)) : "")
      << (o.percent != plain.percent ? " percent=" + std::to_string(o.percent) : "")
      << (o.gain != plain.gain ? " gain=" + o.gain : "") << (o.format.empty() ? "" : " format=" + o.format)
      << (o.prefix.empty() ? "" : " prefix=" + o.prefix) << (o.outputFolder != "out" ? " out=" + o.outputFolder : "")
      << (o.targetLufs != plain.targetLufs ? " target=" + std::to_string(int(o.targetLufs)) : "")
      << (o.ceilingDbtp != plain.ceilingDbtp ? " ceiling=" + std::to_string(int(o.ceilingDbtp)) : "")
      << (o.limiter ? "" : " nolimiter") << (o.groupByFolder ? " byfolder" : "") << (o.jobs != 2 ? " jobs=" + std::to_string(o.jobs) : "")
      << (o.nullSeparated ? " null" : "") << (o.quiet ? " quiet" : "") << (o.help ? " help" : "")
      << (o.plan ? " plan" : "") << (o.tagsOnly ? " tags" : "") << (o.skipWithinDb > 0 ? " skip" : "") << (o.reportFile.empty() ? "" : " report=" + o.reportFile)
      << (o.existing != plain.existing ? " existing=" + std::string(existing_outputs::wordOf(o.existing)) : "");
    for (const std::string& p : o.paths)
        s << (p == "a" ? "" : " path=" + p);
    for (const std::string& f : o.filesFrom)
        s << " from=" + f;
    return s.str().empty() ? "" : s.str().substr(1);
}

TEST(CliArguments, EveryOptionReadsAsTheWindowReadsItsControlsAndBadOnesAreNamed)
{
    struct Row {
        std::vector<std::string> args;  // "-o out a" is added unless the row has "!"
        std::string expected;           // changed(), or "error: " and a part of the message
    };
    const Row rows[] = {
        {{}, ""},
        {{"--album"}, "mode=1"},
        {{"--weighted", "--weighted"}, "mode=2"},
        {{"--arithmetic", "--target=-20.5"}, "mode=3 target=-20"},
        {{"--group-by", "folder", "--album"}, "mode=1 byfolder"},
        {{"--peak"}, "mode=4"},
        {{"--percent=0050"}, "mode=5 percent=50"},
        {{"--gain", "-3.5"}, "mode=6 gain=-3.5"},
        {{"--gain=5."}, "mode=6 gain=5"},
        {{"--preset=atsc", "--no-limiter"}, "target=-24 ceiling=-2 nolimiter"},
        {{"--ceiling=-3", "--preset=ebu"}, "target=-23 ceiling=-3"},
        {{"--format=mp3"}, "format=*.MP3"}, {{"--format=.Flac"}, "format=*.FLAC"},
        {{"--prefix=vol_-1"}, "prefix=vol_-1"},
        {{"-j1", "-q0", "--files-from", "-"}, "jobs=1 null quiet from=-"},
        {{"--", "-o", "--peak"}, "path=-o path=--peak"},
        {{"!", "--output=x", "-", "--", "-j"}, "out=x path=- path=-j"},
        {{"!", "--help"}, "out= help"},
        {{"!", "--plan", "a"}, "out= plan"}, {{"--report=r.JSONL"}, "report=r.JSONL"},
        {{"--report=r.txt"}, "error: invalid value 'r.txt' for --report"},
        {{"--tags-only", "--album"}, "mode=1 tags"},
        {{"--tags-only", "--peak"}, "error: --tags-only goes with --track or --album only, not with --peak"},
        {{"--tags-only", "--preset=ebu"}, "error: --preset does not apply to --tags-only"},
        {{"--tags-only", "--format=mp3"}, "error: --format does not apply to --tags-only"},
        {{"--skip-within=0.5"}, "skip"}, {{"--skip-within=7"}, "error: --skip-within"},
        {{"--existing=keep-both"}, "existing=keep-both"}, {{"--existing", "skip"}, "existing=skip"},
        {{"--existing=Replace"}, "error: invalid value 'Replace' for --existing: fail, keep-both, replace or skip"},
        {{"--album", "--peak"}, "error: only one volume mode may be given: --album and --peak"},
        {{"--percent=1001"}, "error: invalid value '1001' for --percent"},
        {{"--percent=-1"}, "error: --percent"},
        {{"--gain=abc"}, "error: invalid value 'abc' for --gain"},
        {{"--gain=100.5"}, "error: --gain"}, {{"--gain=.5"}, "error: --gain"}, {{"--gain=1e3"}, "error: --gain"},
        {{"--target=5"}, "error: --target"}, {{"--target=-71"}, "error: --target"},
        {{"--ceiling=-60"}, "error: --ceiling"}, {{"--target=nan"}, "error: --target"},
        {{"--preset=loud"}, "error: invalid value 'loud' for --preset: one of streaming"},
        {{"--preset=ebu", "--target=-20"}, "error: --target and --preset cannot be given together"},
        {{"--gain=3", "--preset=ebu"}, "error: --preset applies to the RMS modes only"},
        {{"--peak", "--no-limiter"}, "error: --no-limiter applies to the RMS modes only"},
        {{"--group-by=folder"}, "error: --group-by applies to the album and average modes only (--album, --weighted, "
                                "--arithmetic), not to --track (the default)"},
        {{"--weighted", "--group-by=album"}, "error: invalid value 'album' for --group-by: folder"},
        {{"--format=xyz"}, "error: invalid value 'xyz' for --format: one of wav, mp3"},
        {{"--format=*.MP3"}, "error: --format"},
        {{"--prefix=a b"}, "error: invalid value 'a b' for --prefix"},
        {{"--prefix=" + std::string(21, 'x')}, "error: --prefix"},
        {{"-j0"}, "error: invalid value '0' for --jobs: a whole number from 1 to 2"},
        {{"--jobs=3"}, "error: --jobs"},
        {{"--bogus"}, "error: unknown option --bogus"}, {{"-x"}, "error: unknown option -x"},
        {{"--quiet=yes"}, "error: option --quiet takes no value"},
        {{"--files-from"}, "error: option --files-from needs a value"},
        {{"!", "a"}, "error: no output folder given"},
        {{"!", "-o", "out"}, "error: no file or folder given"},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = row.args;
        const bool bare = !args.empty() && args[0] == "!";
        if (bare)
            args.erase(args.begin());
        else
            args.insert(args.begin(), {"-o", "out", "a"});
        SCOPED_TRACE(::testing::PrintToString(args));
        const cli_arguments::ParseResult parsed = cli_arguments::parse(args, {2, 2});
        if (row.expected.starts_with("error: "))
            EXPECT_NE(parsed.error.find(row.expected.substr(7)), std::string::npos) << parsed.error;
        else
            EXPECT_EQ(parsed.error + changed(parsed.options), row.expected);
    }
}

struct CliResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

CliResult runCli(const std::vector<std::string>& args, const fs::path& folder, const std::string& input = {})
{
    QStringList list;
    for (const std::string& a : args)
        list << QString::fromStdString(a);
    QProcess cli;
    cli.setWorkingDirectory(QString::fromStdString(folder.string()));
    cli.start(QString::fromStdString(kProgram), list);
    cli.write(input.data(), static_cast<qint64>(input.size()));
    cli.closeWriteChannel();
    const bool ended = cli.waitForFinished(240000);
    EXPECT_TRUE(ended && cli.exitStatus() == QProcess::NormalExit) << "auralon-cli did not end by itself";
    return {cli.exitCode(), cli.readAllStandardOutput().toStdString(), cli.readAllStandardError().toStdString()};
}

std::vector<std::string> namesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

double lufs(const fs::path& file)
{
    return testsupport::measureLoudness(file).integratedLufs;
}

double peak(const fs::path& file)
{
    return testsupport::measureVolume(file).maxDb;
}

TEST(CliJobs, EveryModeAndWayOfNamingFilesGivesItsOutputsLevelsAndExitStatus)
{
    testsupport::TempDir dir;
    const fs::path in = dir / "in", odd = dir / "odd", out = dir / "out", empty = dir / "empty";
    for (const fs::path& folder : {in, odd, out, empty})
        fs::create_directories(folder);
    testsupport::makeSine(in / "a.wav", -20, 1.5);
    testsupport::makeSine(in / "b.flac", -30, 1.5);
    testsupport::makeMedia(in / "c.mp4", "sine=frequency=440:duration=1.5", "testsrc=size=64x48:rate=5:duration=1.5",
                           {"-shortest"});
    testsupport::makeMedia(in / "silent.mp4", "", "testsrc=size=64x48:rate=5:duration=1");
    testsupport::writeFile(in / "notes.txt", "not media\n");
    // MP3 coding misses these: pink noise limited to -8 LUFS comes out quieter, a square wave
    // brought to full scale comes out over it; clicks hold their loudness in what the limiter holds back.
    const fs::path loud = dir / "loud";
    fs::create_directories(loud);
    testsupport::makeMedia(loud / "pink.wav", "anoisesrc=color=pink:d=3:a=0.5:seed=7", {}, {"-ac", "2"});
    testsupport::makeMedia(loud / "burst.wav", "aevalsrc='if(lt(mod(t,0.5),0.01),0.9*sin(2*PI*3000*t),0)':s=44100:d=3",
                           {}, {"-ac", "2"});
    testsupport::makeMedia(loud / "square.wav", "aevalsrc=0.9*sgn(sin(2*PI*220*t))+0.05*sin(2*PI*5000*t):s=44100:d=3",
                           {}, {"-ac", "2"});
    auto reportLine = [&](const std::string& name) {
        const std::string text = testsupport::readFile(out / "r.csv");
        const std::size_t at = text.find(name + ",");
        return at == std::string::npos ? std::string() : text.substr(at, text.find('\n', at) - at);
    };
    const std::string dashed = "-dash 'q' \"x\" sp.wav", notText = "bad\xff.wav";
    fs::copy_file(in / "a.wav", odd / dashed);
    fs::copy_file(in / "a.wav", odd / notText);
    const double aIn = lufs(in / "a.wav"), bIn = lufs(in / "b.flac");

    const std::vector<std::string> ab{"in/a.wav", "in/b.flac"};
    const std::vector<std::string> abc{"in/a.wav", "in/b.flac", "in/c.mp4"};
    using Check = std::function<void()>;
    auto near = [&](std::function<double(const fs::path&)> measure, const std::string& name, double expected,
                    double within) { EXPECT_NEAR(measure(out / name), expected, within) << name; };
    struct Row {
        const char* name;
        std::vector<std::string> args;  // then "-o out"
        std::string input;              // standard input
        int exit;
        std::vector<std::string> outputs;
        Check levels;
        std::string says = {};  // a part of standard error, then of standard output
        std::string shows = {};
    };
    const Row rows[] = {
        {"track", abc, "", 0, {"a.wav", "b.flac", "c.mp4"}, [&] {
             near(lufs, "a.wav", -14, 0.3);
             near(lufs, "b.flac", -14, 0.3);
             near(lufs, "c.mp4", -14, 0.6);
         }},
        {"album", {"--album", "--preset=podcast", ab[0], ab[1]}, "", 0, {"a.wav", "b.flac"}, [&] {
             EXPECT_NEAR(lufs(out / "a.wav") - lufs(out / "b.flac"), aIn - bIn, 0.5);
             EXPECT_GT(std::abs(lufs(out / "a.wav") - aIn), 1.0);
         }},
        {"weighted", {"--weighted", "--target=-20", ab[0], ab[1]}, "", 0, {"a.wav", "b.flac"}, [&] {
             near(lufs, "a.wav", (aIn + bIn) / 2, 0.5);
             near(lufs, "b.flac", (aIn + bIn) / 2, 0.5);
         }},
        {"arithmetic", {"--arithmetic", "--no-limiter", ab[0], ab[1]}, "", 0, {"a.wav", "b.flac"},
         [&] { near(lufs, "b.flac", (aIn + bIn) / 2, 0.5); }},
        {"peak to FLAC", {"--peak", "--format=flac", abc[0], abc[1], abc[2]}, "", 0, {"a.flac", "b.flac", "c.mp4"},
         [&] {
             near(peak, "a.flac", 0, 0.2);
             near(peak, "b.flac", 0, 0.2);
         }},
        {"percent with a prefix", {"--percent=50", "--prefix=half_", "-j1", ab[0]}, "", 0, {"half_a.wav"},
         [&] { near(peak, "half_a.wav", -26.02, 0.1); }},
        {"gain on names from standard input", {"--gain=-6", "--files-from=-", "-0", "-q"},
         std::string("in/a.wav") + '\0' + "odd/" + dashed + '\0' + "odd/" + notText + '\0', 1, {dashed, "a.wav"}, [&] {
             near(peak, "a.wav", -26, 0.1);
             near(peak, dashed, -26, 0.1);
         }},
        {"a folder with a refused file, and a named one", {"--gain=0", "in", "in/notes.txt"}, "", 1,
         {"a.wav", "b.flac", "c.mp4"}, {}},
        {"a plan only", {"--plan", "--album", ab[0], ab[1]}, "", 0, {}, {}, "", "kind\tfile\t"},
        {"a report", {"--report=out/r.csv", ab[0], ab[1]}, "", 0, {"a.wav", "b.flac", "r.csv"},
         [&] { EXPECT_NE(testsupport::readFile(out / "r.csv").find(",pass,"), std::string::npos); },
         "2 written, 2 of 2 checked within their promise, loudness -14.", ""},
        // Unchecked, after a plan of the sources: the same bytes as a checked run writes.
        {"unchecked", {"--no-check", "--skip-within=0.5", "--format=mp3", ab[0], ab[1]}, "", 0, {"a.mp3", "b.mp3"},
         [&] {
             const fs::path checked = dir / "checked";
             fs::remove_all(checked);
             fs::create_directories(checked);
             const CliResult again = runCli({"-o", "checked", "--skip-within=0.5", "--format=mp3", ab[0], ab[1]},
                                            dir.path());
             EXPECT_NE(again.err.find("2 of 2 checked within their promise"), std::string::npos) << again.err;
             for (const char* name : {"a.mp3", "b.mp3"})
                 EXPECT_TRUE(testsupport::readFile(out / name) == testsupport::readFile(checked / name)) << name;
         },
         "2 written, not checked\n"},
        {"tags only", {"--tags-only", "--album", "--report=out/r.csv", ab[1]}, "", 0, {"b.flac", "r.csv"},
         [&] { EXPECT_NE(testsupport::readFile(out / "r.csv").find(",tags written,"), std::string::npos); },
         "tagged REPLAYGAIN_TRACK_GAIN="},
        // Written once more with the correction measured, and judged again; never a third time.
        {"a miss redone", {"--target=-8", "--format=mp3", "--report=out/r.csv", "loud/pink.wav", "loud/burst.wav"}, "",
         0, {"burst.mp3", "pink.mp3", "r.csv"}, [&] {
             EXPECT_NE(reportLine("pink.wav").find(",pass,,2,miss,loudness -8."), std::string::npos) << reportLine("pink.wav");
             EXPECT_NE(reportLine("burst.wav").find(",miss,loudness -1"), std::string::npos) << reportLine("burst.wav");
             EXPECT_NE(reportLine("burst.wav").find(",2,miss,"), std::string::npos) << reportLine("burst.wav");
         },
         "pink.wav: redone: first -8."},
        {"a peak over full scale redone", {"--peak", "--format=mp3", "loud/square.wav"}, "", 0, {"square.mp3"},
         [&] { near(peak, "square.mp3", 0, 0.5); }, "square.wav: redone: first sample peak +1."},
        {"a bad value", {"--percent=2000", "in"}, "", 2, {}, {}},
        {"tags only in peak mode", {"--tags-only", "--peak", "in"}, "", 2, {}, {}, "--tags-only goes with"},
        {"an output folder that is not there", {"in/a.wav", "-o", "missing"}, "", 2, {}, {}},
        {"nothing to do", {"empty"}, "", 2, {}, {}},
    };

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(out);
        fs::create_directories(out);
        std::vector<std::string> args = row.args;
        args.insert(args.begin(), {"-o", "out"});
        const CliResult r = runCli(args, dir.path(), row.input);

        ASSERT_EQ(r.exitCode, row.exit) << r.err;
        EXPECT_EQ(namesIn(out), row.outputs) << r.err;
        // One line per file, its status first; messages name the refused files.
        const std::string sep = row.input.empty() ? "\t" : std::string(1, '\0');
        const std::string end = row.input.empty() ? "\n" : std::string(1, '\0');
        for (const std::string& name : row.outputs)
            EXPECT_NE(r.out.find("written" + sep), std::string::npos) << name;
        if (row.exit == 1) {
            const std::string refused = row.input.empty() ? (in / "silent.mp4").string() : (odd / notText).string();
            EXPECT_NE(r.out.find("refused" + sep + refused + sep + end), std::string::npos) << r.out;
            EXPECT_NE(r.err.find(refused), std::string::npos) << r.err;
        }
        if (row.exit == 2) {
            EXPECT_EQ(r.out, "");
        }
        if (row.levels)
            row.levels();
        EXPECT_NE(r.err.find(row.says), std::string::npos) << r.err;
        EXPECT_NE(r.out.find(row.shows), std::string::npos) << r.out;
        EXPECT_TRUE(fs::is_empty(kScratch)) << "the scratch folder was left with copies";
    }
}

// A file in the output folder under an output's name is the user's: replaced only when they say
// so, by the command line's --existing or the window's "Files Exist" box, asked once.
TEST(CliJobs, AFileUnderAnOutputsNameIsReplacedOnlyWhenTheUserSaysSo)
{
    const std::string own = "the user's own a.wav, not audio at all\n";
    struct Row {
        const char* choice;  // --existing, or none: only the window's box has Cancel
        const char* button;
        int exit;
        std::vector<std::string> names;  // in the output folder afterwards
        const char* status;              // a.wav's line on standard output
    };
    const Row rows[] = {
        {"fail", nullptr, 1, {"a.wav", "b.wav"}, "refused"},
        {"keep-both", "Keep Both", 0, {"a (1).wav", "a.wav", "b.wav"}, "written"},
        {"replace", "Replace", 0, {"a.wav", "b.wav"}, "written"},
        {"skip", "Skip Those", 0, {"a.wav", "b.wav"}, "skipped"},
        {nullptr, "Cancel", 0, {"a.wav"}, nullptr},
    };
    testsupport::TempDir dir;
    fs::create_directories(dir / "in");
    testsupport::makeSine(dir / "in" / "a.wav", -20, 1);
    testsupport::makeSine(dir / "in" / "b.wav", -20, 1);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.choice ? row.choice : row.button);
        const bool replaced = row.choice && std::string_view(row.choice) == "replace";
        if (row.choice) {
            fs::remove_all(dir / "out");
            testsupport::writeFile(dir / "out" / "a.wav", own);
            const CliResult r = runCli({"--gain=-3", "--existing=" + std::string(row.choice), "-o", "out", "in/a.wav",
                                        "in/b.wav"},
                                       dir.path());
            EXPECT_EQ(r.exitCode, row.exit) << r.err;
            EXPECT_EQ(namesIn(dir / "out"), row.names);
            EXPECT_EQ(testsupport::readFile(dir / "out" / "a.wav") == own, !replaced);
            EXPECT_NE(r.out.find(std::string(row.status) + "\t" + (dir / "in" / "a.wav").string()), std::string::npos) << r.out;
            EXPECT_NE(r.out.find("written\t" + (dir / "in" / "b.wav").string()), std::string::npos) << r.out;
            if (row.exit == 1) {
                EXPECT_NE(r.err.find((dir / "out" / "a.wav").string() + " exists"), std::string::npos) << r.err;
            }
        }

        if (!row.button)
            continue;  // the window asks instead
        jobtest::JobHarness h;
        testsupport::writeFile(h.outputFolder() / "a.wav", own);
        h.addFiles({dir / "in" / "a.wav", dir / "in" / "b.wav"});
        h.choose(h.main().radio_changegain);
        h.main().edit_volumegain->setText(QStringLiteral("-3"));
        h.boxes().answerWith(QString::fromLatin1(row.button));
        h.runJob();
        EXPECT_EQ(namesIn(h.outputFolder()), row.names);
        EXPECT_EQ(testsupport::readFile(h.outputFolder() / "a.wav") == own, !replaced);
        EXPECT_EQ(h.textsWithCaption(QStringLiteral("Files Exist")).size(), 1u);
        EXPECT_EQ(h.finishedMessages(), row.choice ? 1 : 0);  // Cancel: nothing happens
    }
}

TEST(CliJobs, TheWindowAndTheCommandLineRunTheSameToolCommands)
{
    struct Row {
        const char* name;
        std::function<void(jobtest::JobHarness&)> window;
        std::vector<std::string> args;
    };
    const Row rows[] = {
        {"peak to MP3 with a prefix",
         [](jobtest::JobHarness& h) {
             h.choose(h.main().radio_peak_trackgain);
             h.main().cbk_audioformatconverting->setChecked(true);
             h.main().cb_audioformat->setCurrentText(QStringLiteral("*.MP3"));
             h.main().options->ed_prefix->setText(QStringLiteral("vol_"));
         },
         {"--peak", "--format=mp3", "--prefix=vol_"}},
        {"album of each folder at the podcast target without the limiter",
         [](jobtest::JobHarness& h) {
             h.choose(h.main().radio_collectively);
             h.main().options->cb_loudnesstarget->setCurrentIndex(1);
             h.main().options->cbk_limitpeaks->setChecked(false);
             h.main().options->cb_albumsets->setCurrentIndex(1);
         },
         {"--album", "--preset=podcast", "--no-limiter", "--group-by=folder"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        jobtest::JobHarness h;
        h.tools().setFake(FakeToolFolder::Tool::Converter, FakeToolBehaviour::printingThenRunning({}, FFMPEG_EXECUTABLE));
        h.tools().setFake(FakeToolFolder::Tool::Normalizer,
                          FakeToolBehaviour::printingThenRunning({}, AURALON_TEST_BIN_DIR "/qvx/client"));
        const fs::path a = h.dir() / "a.wav", b = h.dir() / "b.flac";
        testsupport::makeSine(a, -20, 1);
        testsupport::makeSine(b, -30, 1);
        // The commands each front end ran, sorted (runs at once record in either order), with
        // their scratch folders named alike.
        auto commands = [&h](const fs::path& scratch) {
            std::vector<std::string> all;
            for (FakeToolFolder::Tool tool : {FakeToolFolder::Tool::Converter, FakeToolFolder::Tool::Normalizer})
                for (const std::vector<std::string>& run : h.tools().recordedRuns(tool)) {
                    std::string line = h.tools().toolPath(tool);
                    for (const std::string& arg : run)
                        line += " [" + arg + "]";
                    for (std::size_t at; (at = line.find(scratch.string())) != std::string::npos;)
                        line.replace(at, scratch.string().size(), "<scratch>/");
                    // Hidden files being written carry the writer's process id.
                    all.push_back(std::regex_replace(line, std::regex("auralon-[0-9]+-"), "auralon-PID-"));
                }
            std::sort(all.begin(), all.end());
            fs::remove(h.tools().windowsDirectory() + "/qvx/client123.log");
            fs::remove(h.tools().windowsDirectory() + "/qvx/client.log");
            return all;
        };

        h.addFiles({a, b});
        row.window(h);
        h.runJob();
        h.expectFinishedWithoutErrors();
        const std::vector<std::string> byWindow = commands(h.scratchFolder());
        ASSERT_GE(byWindow.size(), 4u);

        fs::remove_all(h.outputFolder());
        fs::create_directories(h.outputFolder());
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {"-o", h.outputFolder().string(), a.string(), b.string()});
        const CliResult r = runCli(args, h.dir().path());  // the fake tools by AURALON_WINDOWS_DIR
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(commands(kScratch), byWindow);
    }
}

TEST(CliJobs, AStopSignalEndsTheRunsRemovesWhatTheyWroteAndExitsWith130)
{
    struct Row {
        const char* name;
        int signal;
        const char* mode;
    };
    for (const Row& row : {Row{"SIGTERM while extracting", SIGTERM, "--track"},
                           Row{"SIGINT while converting", SIGINT, "--gain=-3"}}) {
        SCOPED_TRACE(row.name);
        testsupport::TempDir dir;
        FakeToolFolder tools;
        tools.setFake(FakeToolFolder::Tool::Converter, FakeToolBehaviour::hanging());
        tools.linkReal(FakeToolFolder::Tool::Normalizer);
        tools.useAsWindowsDirectory();
        const fs::path a = dir / "a.wav", b = dir / "b.wav", out = dir / "out";
        testsupport::makeSine(a, -20, 1);
        testsupport::makeSine(b, -20, 1);
        fs::create_directories(out);

        QProcess cli;
        cli.start(QString::fromStdString(kProgram),
                  {row.mode, "-j2", "-o", QString::fromStdString(out.string()), QString::fromStdString(a.string()),
                   QString::fromStdString(b.string())});
        ASSERT_TRUE(cli.waitForStarted());
        std::vector<long> children;
        std::vector<std::vector<std::string>> runs;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            children = testsupport::descendantsOf(cli.processId());
            runs = tools.recordedRuns(FakeToolFolder::Tool::Converter);
            return runs.size() == 2 && children.size() >= 4;  // each fake with its child
        }, 60000));
        for (const auto& run : runs)
            testsupport::writeFile(run.back(), "half a file");  // as if begun
        ::kill(static_cast<pid_t>(cli.processId()), row.signal);
        ASSERT_TRUE(cli.waitForFinished(60000));

        EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(cli.exitCode(), 130) << cli.readAllStandardError().toStdString();
        const std::string stdoutText = cli.readAllStandardOutput().toStdString();
        EXPECT_EQ(stdoutText, "skipped\t" + a.string() + "\t\nskipped\t" + b.string() + "\t\n");
        for (long pid : children)
            EXPECT_FALSE(testsupport::processAlive(pid)) << pid;
        for (const auto& run : runs)
            EXPECT_FALSE(fs::exists(run.back())) << run.back();
        EXPECT_TRUE(fs::is_empty(out));
        EXPECT_TRUE(fs::is_empty(kScratch));
    }
}

}  // namespace
