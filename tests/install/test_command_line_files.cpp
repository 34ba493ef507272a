// Files named on the program's command line go the way of a drop: the same extension rule,
// the same refusals, whole paths in the list.
#include "app/Tmain.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"
#include "support/gui/GuiApplication.h"
#include "support/gui/MessageBoxAnswerer.h"

#include <gtest/gtest.h>

#include <QFile>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new testsupport::GuiApplication);

TEST(CommandLineFiles, TakeTheRulesOfADrop)
{
    testsupport::TempDir dir;
    testsupport::MessageBoxAnswerer answers;
    Tmain window;
    ASSERT_TRUE(testsupport::showActive(window));
    ASSERT_TRUE(answers.boxes().empty()) << "the libraries did not load";

    fs::create_directories(dir / "sub");
    testsupport::makeSine(dir / "tone.wav", -6.0, 1.0);
    testsupport::makeMedia(dir / "clip.mp4", "sine=frequency=440:duration=1",
                           "testsrc=size=160x120:rate=10:duration=1");
    testsupport::makeSine(dir / "sub/relative.flac", -6.0, 1.0);
    fs::copy_file(dir / "tone.wav", dir / "tone.wav.bak");
    testsupport::writeFile(dir / "notes.txt", "text\n");
    testsupport::writeFile(dir / "silent.mp3", "no audio in here\n");
    const std::string notUtf8 = (dir / "\xff.wav").string();
    fs::copy_file(dir / "tone.wav", notUtf8);
    fs::current_path(dir.path());

    struct Case {
        std::string name;
        const char* row;  // the row it gives, or nullptr
    };
    const std::string missing = (dir / "missing.ogg").string();
    const std::vector<Case> cases{
        {(dir / "tone.wav").string(), "tone.wav"},
        {(dir / "notes.txt").string(), nullptr},     // not a listed extension
        {(dir / "tone.wav.bak").string(), nullptr},  // the last dot counts
        {"sub/relative.flac", "sub/relative.flac"},  // whole path in the row
        {"", nullptr},
        {"--version", nullptr},                      // an option of nobody's
        {(dir / "clip.mp4").string(), "clip.mp4"},
        {missing, nullptr},
        {(dir / "silent.mp3").string(), nullptr},
        {notUtf8, nullptr},
    };
    std::vector<std::string> names;
    std::vector<QString> rows;
    for (const Case& c : cases) {
        names.push_back(c.name);
        if (c.row)
            rows.push_back(QString::fromStdString((dir / c.row).string()));
    }
    window.addCommandLineFiles(names);

    std::vector<QString> shown;
    for (int row = 0; row < window.rowCount(); ++row)
        shown.push_back(window.rowCaption(row));
    EXPECT_EQ(shown, rows);
    ASSERT_EQ(answers.boxes().size(), 3u) << answers.texts().join('\n').toStdString();
    EXPECT_EQ(answers.boxes()[0].text, QStringLiteral("File load error: ") + QString::fromStdString(missing));
    EXPECT_EQ(answers.boxes()[1].text,
              QStringLiteral("File load error: ") + QString::fromStdString((dir / "silent.mp3").string()));
    EXPECT_TRUE(answers.boxes()[2].text.startsWith(QStringLiteral("File load error: ")));
    for (const auto& box : answers.boxes()) {
        EXPECT_EQ(box.caption, QString());
        EXPECT_EQ(box.icon, QMessageBox::Critical);
        EXPECT_EQ(box.owner, &window);
    }
}

}  // namespace
