#include "conversion/ConversionCommand.h"
#include "conversion/ExistingOutputs.h"
#include "conversion/OutputFiles.h"
#include "conversion/OutputNames.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace conversion_command;
using testsupport::TempDir;
using testsupport::readFile;
using testsupport::writeFile;
namespace fs = std::filesystem;

namespace {

struct Row {
    std::string source, folder, expected;
    std::string prefix = {};
    std::vector<std::string> others = {};  // further sources of the job
    std::vector<std::string> used = {};    // outputs of earlier rows
};

ConversionResult build(const Row& row)
{
    ConversionRequest r;
    r.percent = 120;
    r.sourcePath = row.source;
    r.outputFolder = row.folder;
    r.prefix = row.prefix;
    r.probe.streams.resize(1);
    r.probe.streams[0].Kind = TStreamKind::Audio;
    std::vector<std::string> taken = row.others;
    taken.push_back(row.source);
    taken.insert(taken.end(), row.used.begin(), row.used.end());
    const file_identity::GuardedNames guarded = file_identity::guardedNames(taken);
    r.guarded = &guarded;
    return buildConversion(r);
}

}  // namespace

TEST(OutputNames, NamesAndTheirCollisions)
{
    TempDir dir;
    const std::string in = dir.str() + "/In", out = dir.str() + "/Out", link = dir.str() + "/link";
    writeFile(in + "/a.mp3", "source a");
    writeFile(in + "/b.mp3", "source b");
    writeFile(in + "/NEW_c.mp3", "source NEW_c");
    writeFile(out + "/old.mp3", "an earlier job's output");
    writeFile(out + "/e.mp3", "this job's earlier output");
    fs::create_directories(dir / "x.ape files");
    fs::create_directory_symlink(in, link);
    fs::create_hard_link(in + "/a.mp3", out + "/a.mp3");
    fs::create_symlink(in + "/b.mp3", out + "/b.mp3");

    const Row rows[] = {
        {in + "/d.mp3", in, in + "/NEW_d.mp3"},
        {in + "/d.mp3", in, in + "/vol_d.mp3", "vol_"},
        {in + "/d.mp3", out + "/", out + "/vol_d.mp3", " \tvol_ \n"},
        {in + "/d.mp3", in, in + "/NEW_d.mp3", "  "},
        {in + "/d.mp3", link, link + "/NEW_d.mp3"},
        {in + "/d.mp3", in + "/../In", in + "/../In/NEW_d.mp3"},
        {dir.str() + "/x.ape files/a.ape", dir.str() + "/x.ape files", dir.str() + "/x.ape files/p_a.wav", "p_"},
        {in + "/README", out, out + "/README"},
        // Never a source: a hard link, a symbolic link, a NEW_ name, a later row's source.
        {in + "/a.mp3", out, out + "/a (2).mp3"},
        {in + "/b.mp3", out, out + "/b (2).mp3"},
        {in + "/c.mp3", in, in + "/NEW_c (2).mp3", "", {in + "/NEW_c.mp3"}},
        {in + "/f.mp3", out, out + "/f (2).mp3", "", {out + "/f.mp3"}},
        // Never an earlier output of the job, however spelt.
        {in + "/d.mp3", out, out + "/d (3).mp3", "", {}, {out + "/d.mp3", out + "/d (2).mp3"}},
        {in + "/e.mp3", out, out + "/e (2).mp3", "", {}, {out + "/./e.mp3"}},
        // An unrelated file is replaced, as a rerun expects.
        {in + "/old.mp3", out, out + "/old.mp3"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.expected);
        const ConversionResult result = build(row);
        ASSERT_TRUE(result.command) << result.refusal;
        EXPECT_EQ(result.command->outputFile, row.expected);
    }

    // Which of those names meet another file (never a source, however it is linked), and the
    // name such an output gets to keep both.
    const std::vector<std::string> sources{in + "/a.mp3", in + "/b.mp3", in + "/old.mp3", in + "/d.mp3", in + "/e.mp3"};
    std::string clashes;
    for (const existing_outputs::Clash& clash : existing_outputs::clashes(sources, out, "", false, "*.WAV"))
        clashes += std::to_string(clash.row) + " " + clash.output + "; ";
    EXPECT_EQ(clashes, "2 " + out + "/old.mp3; 4 " + out + "/e.mp3; ");
    EXPECT_EQ(existing_outputs::clashes(sources, out, "p_", false, "*.WAV").size(), 0u);
    writeFile(out + "/old (1).mp3", "kept both before");
    EXPECT_EQ(existing_outputs::keepBothName(out + "/old.mp3", existing_outputs::namesIn(out),
                                             file_identity::guardedNames(sources)),
              out + "/old (2).mp3");
    for (const char* word : {"fail", "keep-both", "replace", "skip"})
        EXPECT_EQ(existing_outputs::wordOf(*existing_outputs::parseChoice(word)), word);
    for (const char* word : {"", "Replace", "keep_both", "skip "})
        EXPECT_FALSE(existing_outputs::parseChoice(word)) << word;
}

TEST(OutputNames, RefusedWhenNoSafeNameExists)
{
    TempDir dir;
    const std::string out = dir.str();
    Row row{out + "/in/a.mp3", out, ""};
    row.used.push_back(out + "/a.mp3");
    for (int n = 2; n <= 999; ++n)
        row.used.push_back(out + "/a (" + std::to_string(n) + ").mp3");
    ConversionResult result = build(row);
    EXPECT_FALSE(result.command);
    EXPECT_EQ(result.refusal.rfind("Cannot convert " + row.source + ": every name up to a (999).mp3", 0), 0u)
        << result.refusal;

    result = build({out + "/in/" + std::string(240, 'n') + ".mp3", out, "", "prefix_of_twenty_ch"});
    EXPECT_NE(result.refusal.find("is too long"), std::string::npos) << result.refusal;

    // The scratch folder is emptied at the end of every job.
    ConversionRequest r;
    r.sourcePath = out + "/in/a.mp3";
    r.outputFolder = out;
    r.scratchFolder = out + "/";
    EXPECT_NE(buildConversion(r).refusal.find("is the scratch folder"), std::string::npos);
}

TEST(OutputNames, TemporaryFileIsHiddenBesideTheOutput)
{
    EXPECT_EQ(output_names::partFilePath("/o/Song.OGG", 42, 7), "/o/.Song.auralon-42-7.part.ogg");
    // A long name is cut to fit 255 bytes, never inside a character.
    std::string stem(120, 'x');
    for (int i = 0; i < 60; ++i)
        stem += "\xC3\xA9";
    const std::string name = output_names::fileNameOf(output_names::partFilePath("/o/" + stem + ".mp3", 42, 12));
    const std::string tail = ".auralon-42-12.part.mp3";
    ASSERT_LE(name.size(), 255u);
    EXPECT_EQ(name.substr(name.size() - tail.size()), tail);
    const std::string kept = name.substr(1, name.size() - 1 - tail.size());
    EXPECT_GT(kept.size(), 200u);
    EXPECT_EQ(stem.rfind(kept, 0), 0u);
    EXPECT_EQ(kept.size() % 2, 0u);  // 120 plain bytes and whole two-byte characters

    // The process is read back from every name the rule makes, and from no other name.
    for (const std::string& made : {output_names::partFilePath("/o/Song.OGG", 42, 7),
                                    output_names::partFilePath("/o/a.part", 42, 7, 3),
                                    output_names::partFilePath("/o/noext", 42, 0),
                                    output_names::partFilePath("/o/.wav", 42, 1), "/o/" + name})
        EXPECT_EQ(output_names::partFileProcess(output_names::fileNameOf(made)), 42) << made;
    for (const char* other : {"Song.auralon-42-7.part.ogg", ".Song.auralon-42-7.part.OGG", ".Song.auralon-42-7.ogg",
                              ".Song.auralon-42-7.part.ogg.x", ".Song.auralon-0-7.part.ogg", ".auralon-42-7.part",
                              ".Song.auralon-42-7-1.part.ogg", ".Song.auralon-4x-7.part.ogg"})
        EXPECT_EQ(output_names::partFileProcess(other), std::nullopt) << other;
}

TEST(OutputFiles, CommitAndDiscard)
{
    TempDir dir;
    const std::string source = dir.str() + "/in/a.mp3";
    writeFile(source, "source");
    const ConversionResult result = build({source, dir.str(), ""});
    ASSERT_TRUE(result.command) << result.refusal;
    const ConversionCommand c = *result.command;
    EXPECT_EQ(fs::path(c.writePath).parent_path(), dir.path());

    writeFile(c.writePath, "converted");
    output_files::StepResult step = output_files::commitOutput(c, file_identity::guardedNames({source}));
    EXPECT_TRUE(step.ok) << step.error;
    EXPECT_EQ(readFile(c.outputFile), "converted");
    EXPECT_FALSE(fs::exists(c.writePath));

    // The converter wrote nothing: no output appears.
    fs::remove(c.outputFile);
    EXPECT_FALSE(output_files::commitOutput(c, file_identity::guardedNames({source})).ok);
    EXPECT_FALSE(fs::exists(c.outputFile));

    // Cancelled: the partial file goes.
    writeFile(c.writePath, "partial");
    EXPECT_TRUE(output_files::discardOutput(c).ok);
    EXPECT_FALSE(fs::exists(c.writePath));
    EXPECT_TRUE(output_files::discardOutput(c).ok);

    // The output name became a hard link to the source while the converter ran.
    writeFile(c.writePath, "converted");
    fs::create_hard_link(source, c.outputFile);
    step = output_files::commitOutput(c, file_identity::guardedNames({source}));
    EXPECT_FALSE(step.ok);
    EXPECT_NE(step.error.find("would replace a source"), std::string::npos) << step.error;
    EXPECT_EQ(readFile(source), "source");
    EXPECT_FALSE(fs::exists(c.writePath));

    // Another file came under the output's name: replaced only when that may be.
    fs::remove(c.outputFile);
    for (const bool mayReplace : {false, true}) {
        writeFile(c.outputFile, "the user's");
        writeFile(c.writePath, "converted");
        step = output_files::commitOutput(c, file_identity::guardedNames({source}), mayReplace);
        EXPECT_EQ(step.ok, mayReplace) << step.error;
        EXPECT_EQ(readFile(c.outputFile), mayReplace ? "converted" : "the user's");
        EXPECT_FALSE(fs::exists(c.writePath));
    }
}
