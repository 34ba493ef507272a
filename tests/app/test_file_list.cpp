// The main window's file list on real files: adding, probing, refusing, drops, the folder
// scan, Remove and Clear.
#include "base/ListTexts.h"
#include "app/Tmain.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"
#include "support/gui/FakeFileDialogs.h"
#include "support/gui/GuiApplication.h"
#include "support/gui/MessageBoxAnswerer.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>

#include <cmath>
#include <filesystem>

#include <sys/stat.h>

namespace fs = std::filesystem;
using testsupport::FakeFileDialogs;
using testsupport::MessageBoxAnswerer;

namespace {

[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new testsupport::GuiApplication);

QString qs(const fs::path& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

void makeTone(const fs::path& out, double seconds = 1.0)
{
    fs::create_directories(out.parent_path());
    testsupport::makeSine(out, -6.0, seconds);
}

void makeVideo(const fs::path& out, bool withAudio)
{
    testsupport::makeMedia(out, withAudio ? "sine=frequency=440:duration=1" : "",
                           "testsrc=size=160x120:rate=10:duration=1", {"-c:v", "mpeg4"});
}

// Milliseconds of a "hh:mm:ss.mmm" Time cell.
long long cellMilliseconds(const QString& time)
{
    const QStringList parts = time.split(QLatin1Char(':'));
    if (parts.size() != 3)
        return -1;
    const QStringList seconds = parts[2].split(QLatin1Char('.'));
    return ((parts[0].toLongLong() * 60 + parts[1].toLongLong()) * 60 + seconds[0].toLongLong()) * 1000
           + seconds.value(1).toLongLong();
}

class FileList : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.setFileDialogs(&dialogs);
        ASSERT_TRUE(testsupport::showActive(window));
        ASSERT_TRUE(answers.boxes().empty()) << "the libraries did not load";
    }

    void addThroughDialog(const QStringList& names)
    {
        dialogs.answerOpen(names);
        window.btn_add->click();
    }

    QStringList captions() const
    {
        QStringList list;
        for (int row = 0; row < window.rowCount(); ++row)
            list << window.rowCaption(row);
        return list;
    }

    int selectedRow() const
    {
        const auto selected = window.ListView1->selectedItems();
        return selected.isEmpty() ? -1 : window.ListView1->indexOfTopLevelItem(selected.first());
    }

    void drop(QWidget* target, const QList<QUrl>& urls)
    {
        QMimeData data;
        data.setUrls(urls);
        const QPointF at(target->rect().center());
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &dropped);
        EXPECT_TRUE(dropped.isAccepted());
        QCoreApplication::processEvents();  // the dropped names are added after the drop
    }

    MessageBoxAnswerer answers;
    FakeFileDialogs dialogs;
    testsupport::TempDir dir;
    Tmain window;
};

TEST_F(FileList, AddedFilesShowWhatFfprobeSees)
{
    const fs::path tone = dir / "tone.wav", song = dir / "song.mp3", clip = dir / "clip.avi";
    makeTone(tone, 2.0);
    testsupport::makeSine(song, -3.0, 1.5, 2, {"-c:a", "libmp3lame"});
    makeVideo(clip, true);

    addThroughDialog({qs(tone), qs(song), qs(clip), qs(tone)});

    EXPECT_EQ(dialogs.openCalls.at(0).owner, &window);
    EXPECT_TRUE(answers.boxes().empty());
    ASSERT_EQ(captions(), (QStringList{qs(tone), qs(song), qs(clip), qs(tone)}));
    struct Expected {
        fs::path file;
        const char* formatStream;
    } const rows[] = {{tone, "a:0"}, {song, "a:0"}, {clip, "v:0"}, {tone, "a:0"}};
    for (int row = 0; row < 4; ++row) {
        SCOPED_TRACE(row);
        const Expected& e = rows[row];
        EXPECT_EQ(window.rowCell(row, 0),
                  list_texts::sizeText(static_cast<std::int64_t>(fs::file_size(e.file)),
                                       QLocale::system()));
        const double seconds = std::stod(testsupport::ffprobeValue(e.file, "format=duration"));
        EXPECT_NEAR(cellMilliseconds(window.rowCell(row, 1)), seconds * 1000.0, 1.0);
        // The decoder's name (mp3float for mp3) and the codec's long name.
        const QString codec = QString::fromStdString(
            testsupport::ffprobeValue(e.file, "stream=codec_name", e.formatStream));
        const QString longName = QString::fromStdString(
            testsupport::ffprobeValue(e.file, "stream=codec_long_name", e.formatStream));
        const QString format = window.rowCell(row, 2);
        EXPECT_TRUE(format.startsWith(codec) && format.endsWith("(" + longName + ")"))
            << format.toStdString() << " vs " << codec.toStdString();
        EXPECT_EQ(window.rowCell(row, 3), QString());
    }
    EXPECT_EQ(selectedRow(), 3);
    EXPECT_EQ(window.label_totalfiles->text(), QStringLiteral("4 Files"));
}

TEST_F(FileList, OpenDialogGetsTheThreeFilters)
{
    addThroughDialog({});
    ASSERT_EQ(dialogs.openCalls.size(), 1u);
    const QString video = QStringLiteral(
        "*.AVI *.MPG *.MPEG *.WMV *.MP4 *.M4V *.3GP *.RMVB *.RM *.FLV *.SWF *.MKV *.H264 *.WEBM "
        "*.MOV *.VOB *.IFO *.YUV *.AVM *.ASF *.AVS *.DAT *.OGM *.TS *.TP *.NSV *.AMV *.ASV *.FFV "
        "*.MTS *.M2TS");
    const QString audio = QStringLiteral(
        "*.WAV *.WAVE *.MP3 *.WMA *.AAC *.AC3 *.FLAC *.ALAC *.M4A *.MID *.MKA *.MP2 *.MPA *.MPC "
        "*.APE *.OFR *.OGG *.RA *.WV *.TTA *.DTS *.G726 *.GSM *.AIF *.AIFF *.AIFC *.AU *.SND "
        "*.PCM *.DSP *.COOK *.DCA *.IMC *.TTA *.OPUS *.OGA *.M4B *.WEBA *.CAF *.W64");
    EXPECT_EQ(dialogs.openCalls[0].filter,
              "Video and Audio Files (" + video + " " + audio + ");;Video Files (" + video
                  + ");;Audio Files (" + audio + ")");
    EXPECT_EQ(window.rowCount(), 0);
}

TEST_F(FileList, RefusedFilesShowTheirMessageAndLoseTheirRow)
{
    const fs::path good = dir / "good.wav", silent = dir / "silent.avi", text = dir / "text.mp3";
    makeTone(good);
    makeVideo(silent, false);
    testsupport::writeFile(text, "not a sound at all\n");
    const fs::path missing = dir / "typed but missing.wav";
    // A FIFO would hang the probe; a playlist would have the probe read the file it names.
    const fs::path fifo = dir / "pipe.mp3", playlist = dir / "playlist.mp3";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    testsupport::writeFile(playlist, "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\n"
                                         + good.string() + "\n#EXT-X-ENDLIST\n");

    addThroughDialog({qs(good), qs(silent), qs(missing), qs(text)});
    drop(window.TabSheet1, {QUrl::fromLocalFile(qs(fifo)), QUrl::fromLocalFile(qs(playlist))});

    EXPECT_EQ(captions(), QStringList{qs(good)});
    EXPECT_EQ(answers.texts(), (QStringList{"No audio stream: " + qs(silent),
                                            "File load error: " + qs(missing),
                                            "File load error: " + qs(text),
                                            "File load error: " + qs(fifo) + ": not a plain file",
                                            "File load error: " + qs(playlist)}));
    for (const auto& box : answers.boxes()) {
        EXPECT_EQ(box.caption, QString());
        EXPECT_EQ(box.icon, QMessageBox::Critical);
        EXPECT_EQ(box.owner, &window);
    }
    EXPECT_EQ(window.label_totalfiles->text(), QStringLiteral("1 Files"));  // not refreshed by a refusal
}

TEST_F(FileList, ClickingARowWhoseFileWasDeletedRemovesIt)
{
    const fs::path first = dir / "first.wav", second = dir / "second.wav";
    makeTone(first);
    makeTone(second);
    addThroughDialog({qs(first), qs(second)});
    ASSERT_EQ(window.rowCount(), 2);
    window.setRowCell(0, 1, QStringLiteral("stale"));
    fs::remove(first);

    QTreeWidgetItem* row = window.ListView1->topLevelItem(0);
    QTest::mouseClick(window.ListView1->viewport(), Qt::LeftButton, {},
                      window.ListView1->visualItemRect(row).center());
    QCoreApplication::processEvents();  // the probe runs once the click is handled

    EXPECT_EQ(answers.texts(), QStringList{"File load error: " + qs(first)});
    EXPECT_EQ(captions(), QStringList{qs(second)});
}

TEST_F(FileList, FolderScanTakesListedFilesDirectlyInTheFolder)
{
    const fs::path folder = dir / "music";
    makeTone(folder / "a.wav");
    fs::copy_file(folder / "a.wav", folder / "B.WaV");
    fs::copy_file(folder / "a.wav", folder / "track.mp");  // ".MP" lies inside "*.MPG"
    fs::copy_file(folder / "a.wav", folder / "README");
    fs::copy_file(folder / "a.wav", folder / "notes.txt");
    fs::create_directories(folder / "sub.wav");
    fs::copy_file(folder / "a.wav", folder / "sub.wav" / "inner.wav");

    dialogs.answerFolder(qs(folder));
    window.btn_openfolder->click();

    const QString prefix = qs(folder) + QLatin1Char('/');
    QStringList got = captions();
    got.sort();
    EXPECT_EQ(got, (QStringList{prefix + "B.WaV", prefix + "a.wav", prefix + "track.mp"}));
    EXPECT_TRUE(answers.boxes().empty());
    EXPECT_EQ(window.openfolder_path, folder.native() + "/");
    EXPECT_EQ(window.label_totalfiles->text(), QStringLiteral("3 Files"));
    ASSERT_EQ(dialogs.folderCalls.size(), 1u);
    EXPECT_EQ(dialogs.folderCalls[0].title, QString());
    EXPECT_EQ(dialogs.folderCalls[0].startFolder, QString());

    // Offered again next time; a cancel adds nothing.
    window.btn_openfolder->click();
    EXPECT_EQ(dialogs.folderCalls.at(1).startFolder, prefix);
    EXPECT_EQ(window.rowCount(), 3);
}

TEST_F(FileList, ClosingTheWindowStopsALongFolderScan)
{
    const fs::path folder = dir / "many";
    makeTone(folder / "0.wav", 0.2);
    for (int i = 1; i < 300; ++i)
        fs::copy_file(folder / "0.wav", folder / (std::to_string(i) + ".wav"));
    QTimer::singleShot(0, &window, [this] { window.Exit1->trigger(); });

    dialogs.answerFolder(qs(folder));
    window.btn_openfolder->click();
    EXPECT_FALSE(window.isVisible());
    EXPECT_LT(window.rowCount(), 300);
}

TEST_F(FileList, FolderNamesKeepTheirBlanks)
{
    makeTone(dir / "album " / "inside.wav");
    makeTone(dir / "album" / "neighbour.wav");
    dialogs.answerFolder(qs(dir / "album "));
    window.btn_openfolder->click();
    EXPECT_EQ(captions(), QStringList{qs(dir / "album ") + "/inside.wav"});
}

TEST_F(FileList, NamesThatAreNotUtf8AreRefusedNotReplaced)
{
    // Qt shows the byte 0xFF as U+FFFD, and a different file really has that name.
    const fs::path folder = dir / "names";
    makeTone(folder / "x\xEF\xBF\xBD.wav");
    fs::copy_file(folder / "x\xEF\xBF\xBD.wav", folder / "x\xFF.wav");  // ffmpeg gets text arguments
    const QString lookalike = qs(folder / "x\xEF\xBF\xBD.wav");

    dialogs.answerFolder(qs(folder));
    window.btn_openfolder->click();
    EXPECT_EQ(captions(), QStringList{lookalike});
    EXPECT_EQ(answers.texts(), QStringList{"File load error: " + lookalike});

    window.btn_clearClick();
    answers.clear();
    QUrl raw = QUrl::fromEncoded("file://" + QByteArray(folder.c_str()).toPercentEncoding("/")
                                 + "/x%FF.wav");
    drop(window.TabSheet1, {raw});
    EXPECT_EQ(window.rowCount(), 0);
    EXPECT_EQ(answers.texts(), QStringList{"File load error: " + lookalike});

    // A dialog cannot say which of the two it meant.
    answers.clear();
    addThroughDialog({lookalike});
    EXPECT_EQ(window.rowCount(), 0);
    EXPECT_EQ(answers.texts(), QStringList{"File load error: " + lookalike});
}

TEST_F(FileList, DropsTakeListedLocalFilesOnly)
{
    const fs::path music = dir / "music.wav", clip = dir / "clip.avi", odd = dir / "odd.mp";
    const fs::path opus = dir / "song.opus";
    makeTone(music);
    makeVideo(clip, true);
    testsupport::ffmpeg({"-i", music.string(), "-c:a", "libopus", opus.string()});
    fs::copy_file(music, odd);
    fs::copy_file(music, dir / "README");
    fs::create_directories(dir / "folder");
    const QList<QUrl> urls{QUrl::fromLocalFile(qs(music)),
                           QUrl::fromLocalFile(qs(dir / "folder")),
                           QUrl::fromLocalFile(qs(dir / "README")),
                           QUrl(QStringLiteral("https://example.org/song.mp3")),
                           QUrl::fromLocalFile(qs(clip)),
                           QUrl::fromLocalFile(qs(odd)),
                           QUrl::fromLocalFile(qs(opus))};

    drop(window.TabSheet1, urls);
    EXPECT_EQ(captions(), (QStringList{qs(music), qs(clip), qs(odd), qs(opus)}));

    // A drop on a child of the page is the page's.
    drop(window.ListView1->viewport(), {QUrl::fromLocalFile(qs(music))});
    EXPECT_EQ(window.rowCount(), 5);
    EXPECT_TRUE(answers.boxes().empty());
}

TEST_F(FileList, TwoHundredFilesDroppedAtOnce)
{
    makeTone(dir / "0.wav", 0.2);
    QList<QUrl> urls{QUrl::fromLocalFile(qs(dir / "0.wav"))};
    for (int i = 1; i < 200; ++i) {
        const fs::path copy = dir / (std::to_string(i) + ".wav");
        fs::copy_file(dir / "0.wav", copy);
        urls << QUrl::fromLocalFile(qs(copy));
    }
    drop(window.TabSheet1, urls);
    ASSERT_EQ(window.rowCount(), 200);
    EXPECT_EQ(window.rowCaption(199), qs(dir / "199.wav"));
    EXPECT_FALSE(window.rowCell(199, 1).isEmpty());
    EXPECT_EQ(window.label_totalfiles->text(), QStringLiteral("200 Files"));
}

TEST_F(FileList, RemoveSelectsTheNeighbourAndClearEmpties)
{
    QStringList names;
    for (const char* name : {"0.wav", "1.wav", "2.wav", "3.wav"}) {
        makeTone(dir / name, 0.2);
        names << qs(dir / name);
    }
    addThroughDialog(names);

    window.ListView1->setCurrentItem(window.ListView1->topLevelItem(1));
    window.btn_remove->click();  // a middle row: the next one moves up and is selected
    EXPECT_EQ(captions(), (QStringList{names[0], names[2], names[3]}));
    EXPECT_EQ(selectedRow(), 1);
    EXPECT_EQ(window.label_totalfiles->text(), QStringLiteral("3 Files"));
    EXPECT_EQ(QApplication::focusWidget(), window.ListView1);

    window.ListView1->setCurrentItem(window.ListView1->topLevelItem(2));
    window.btn_remove->click();  // the last row: the new last one is selected
    EXPECT_EQ(captions(), (QStringList{names[0], names[2]}));
    EXPECT_EQ(selectedRow(), 1);

    window.ListView1->clearSelection();
    window.btn_remove->click();  // nothing selected: nothing happens
    EXPECT_EQ(window.rowCount(), 2);
    EXPECT_EQ(window.label_totalfiles->text(), QStringLiteral("2 Files"));

    window.btn_clear->click();
    EXPECT_EQ(window.rowCount(), 0);
    EXPECT_EQ(window.label_totalfiles->text(), QStringLiteral("0 Files"));

    addThroughDialog({names[0]});
    window.btn_remove->click();  // the only row
    EXPECT_EQ(window.rowCount(), 0);
    EXPECT_EQ(window.label_totalfiles->text(), QStringLiteral("0 Files"));
    EXPECT_TRUE(answers.boxes().empty());
}

}  // namespace
