// Start-up when the FFmpeg libraries cannot be loaded from either folder.
#include "app/FileDialogs.h"
#include "base/ProgramFolders.h"
#include "app/Tmain.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"
#include "support/gui/FakeFileDialogs.h"
#include "support/gui/GuiApplication.h"
#include "support/gui/MessageBoxAnswerer.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QToolButton>
#include <QUrl>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new testsupport::GuiApplication);

// Puts the symbol-less library, as libavcodec.so.59, in both library folders for as long as
// it lives.
class BrokenLibraries {
public:
    BrokenLibraries()
    {
        ::setenv("AURALON_SYSTEM_DIR", system_.str().c_str(), 1);
        for (const std::string& folder :
             {program_folders::libraryFolderA(), program_folders::libraryFolderB()}) {
            fs::create_directories(folder);
            fs::copy_file(AURALON_NO_FFMPEG_LIBRARY, fs::path(folder) / "libavcodec.so.59",
                          fs::copy_options::overwrite_existing);
        }
    }
    ~BrokenLibraries()
    {
        std::error_code ignored;
        fs::remove_all(fs::path(program_folders::programFolder()) / "redist", ignored);
        ::unsetenv("AURALON_SYSTEM_DIR");
    }

private:
    testsupport::TempDir system_;
};

TEST(StartupWithoutLibraries, SaysSoAndTakesNoFiles)
{
    BrokenLibraries broken;
    testsupport::MessageBoxAnswerer answers;
    Tmain window;

    ASSERT_EQ(answers.boxes().size(), 1u);
    const auto& box = answers.boxes()[0];
    EXPECT_EQ(box.text, QStringLiteral("load DLL error!"));
    EXPECT_EQ(box.caption, QString());
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.owner, &window);
    EXPECT_FALSE(window.FFdirectc.FFmpegLoaded());
    EXPECT_EQ(window.cb_audioformat->count(), 0);
    EXPECT_FALSE(window.TabSheet1->acceptDrops());

    testsupport::TempDir dir;
    testsupport::makeSine(dir / "a.wav", -6, 0.3);
    const QString file = QFile::decodeName(QByteArray::fromStdString((dir / "a.wav").native()));

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(file)});
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.TabSheet1, &drop);
    QCoreApplication::processEvents();
    EXPECT_EQ(window.rowCount(), 0);

    // Added with the button, the file fails the probe and its row goes again.
    testsupport::FakeFileDialogs dialogs;
    window.setFileDialogs(&dialogs);
    dialogs.answerOpen({file});
    window.btn_add->click();
    EXPECT_EQ(window.rowCount(), 0);
    window.setFileDialogs(nullptr);
}

}  // namespace
