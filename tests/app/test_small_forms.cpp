#include "analysis/RunLimit.h"
#include "app/stages/Tdetails_peak.h"
#include "app/stages/Tdetails_rms.h"
#include "app/CharacterFilter.h"
#include "app/ProgramFont.h"
#include "app/Tabout.h"
#include "app/Toptions.h"
#include "base/ValueCorrections.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDesktopServices>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

// One application for the process, made and ended inside the test run: a static one
// would outlive Qt's own clean-up at exit.
class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override { app_ = std::make_unique<QApplication>(argc_, argv_); }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[17] = "test_small_forms";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

std::string str(const QString& text)
{
    return text.toStdString();
}

// Sends a right click's menu request; any menu that opens anyway is closed at once so
// that the test cannot hang on it. Returns whether one opened.
bool contextMenuOpens(QWidget* widget)
{
    bool opened = false;
    QTimer::singleShot(0, [&opened] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            opened = true;
            popup->close();
        }
    });
    const QPoint centre = widget->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, centre, widget->mapToGlobal(centre));
    QApplication::sendEvent(widget, &event);
    QApplication::processEvents();
    return opened;
}

QWidget* firstTabStopAfter(QWidget* widget)
{
    for (QWidget* w = widget->nextInFocusChain(); w != widget; w = w->nextInFocusChain()) {
        if (w->focusPolicy() & Qt::TabFocus)
            return w;
    }
    return nullptr;
}

class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

}  // namespace

TEST(SmallForms, PrefixFieldTakesOnlyNameCharactersUpToTwenty)
{
    Toptions options;
    options.show();
    QLineEdit* edit = options.ed_prefix;
    EXPECT_TRUE(edit->text().isEmpty());
    edit->setFocus();

    QTest::keyClicks(edit, QStringLiteral("my song.v2_-X/+*,"));
    EXPECT_EQ(str(edit->text()), "mysongv2_-X");

    // Keys that edit rather than type still work.
    QTest::keyClick(edit, Qt::Key_Left);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClick(edit, Qt::Key_Home);
    QTest::keyClick(edit, Qt::Key_Delete);
    EXPECT_EQ(str(edit->text()), "ysongv2_X");

    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("abcdefghijklmnopqrstuvwxy"));
    EXPECT_EQ(str(edit->text()), "abcdefghijklmnopqrst");
}

TEST(SmallForms, NothingReachesThePrefixAroundTheFilter)
{
    Toptions options;
    options.show();
    QLineEdit* edit = options.ed_prefix;
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("ab"));
    QApplication::clipboard()->setText(QStringLiteral("x y.z"));

    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Insert, Qt::ShiftModifier);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(str(edit->text()), "ab");
    EXPECT_FALSE(contextMenuOpens(edit));

    QInputMethodEvent composed;
    composed.setCommitString(QStringLiteral("c d"));
    QApplication::sendEvent(edit, &composed);
    EXPECT_EQ(str(edit->text()), "ab");
}

TEST(SmallForms, FilterOnASpinBoxAndOnTheGainField)
{
    QWidget window;
    auto* percent = new QSpinBox(&window);
    percent->setRange(0, 1000);
    percent->setValue(0);
    QLineEdit* percentEdit = percent->findChild<QLineEdit*>();
    ASSERT_NE(percentEdit, nullptr);
    percent->installEventFilter(new CharacterFilter(value_corrections::isPercentKey, &window));
    auto* gain = new QLineEdit(&window);
    gain->installEventFilter(new CharacterFilter(value_corrections::isGainKey, &window));
    window.show();

    percent->setFocus();
    QTest::keyClick(percent, Qt::Key_End);
    QTest::keyClick(percent, Qt::Key_Backspace);
    QTest::keyClicks(percent, QStringLiteral("1a2. 3"));
    EXPECT_EQ(str(percentEdit->text()), "123");
    QTest::keyClick(percent, Qt::Key_Up);
    EXPECT_EQ(percent->value(), 124);
    EXPECT_FALSE(contextMenuOpens(percentEdit));

    gain->setFocus();
    QTest::keyClicks(gain, QStringLiteral("-1.5e+dB"));
    EXPECT_EQ(str(gain->text()), "-1.5");
}

TEST(SmallForms, OptionsDialogKeepsThePrefixHoweverItCloses)
{
    Toptions options;
    EXPECT_EQ(str(options.windowTitle()), "Options");
    EXPECT_EQ(options.size(), QSize(357, 391));
    EXPECT_EQ(str(options.cb_writing->itemText(1)), "Loudness tags only (audio untouched)");
    EXPECT_EQ(str(options.Label1->text()), "Prefix of target files");
    EXPECT_EQ(options.ed_prefix->maxLength(), 20);
    EXPECT_EQ(str(options.cb_loudnesstarget->currentText()), "-14 LUFS (streaming)");
    EXPECT_EQ(options.cb_loudnesstarget->count(), 5);
    EXPECT_TRUE(options.cbk_limitpeaks->isChecked());
    EXPECT_EQ(str(options.cbk_leaveunchanged->text()), "Leave files that need less than 0.5 dB unchanged");
    EXPECT_FALSE(options.cbk_leaveunchanged->isChecked());
    EXPECT_EQ(str(options.cbk_checkoutputs->text()), "Check every output after writing");
    EXPECT_TRUE(options.cbk_checkoutputs->isChecked());
    EXPECT_EQ(str(options.cb_albumsets->currentText()), "Album: the whole list");
    EXPECT_FALSE(options.groupByFolder());
    // "Files at once": 1 to the usable cores, all of them at first (or what the variable says).
    const int cores = run_limit::usableCores();
    const int preset = run_limit::defaultLimit(std::getenv(run_limit::kEnvironmentName), cores);
    EXPECT_EQ(options.spin_filesatonce->value(), preset);
    EXPECT_EQ(options.spin_filesatonce->minimum(), 1);
    EXPECT_EQ(options.spin_filesatonce->maximum(), std::max(cores, preset));

    options.show();
    EXPECT_EQ(firstTabStopAfter(&options), options.Button1);
    EXPECT_EQ(firstTabStopAfter(options.Button1), options.ed_prefix);
    EXPECT_EQ(firstTabStopAfter(options.ed_prefix), options.cb_loudnesstarget);
    EXPECT_EQ(firstTabStopAfter(options.cb_loudnesstarget), options.cbk_limitpeaks);
    options.ed_prefix->setText(QStringLiteral("loud_"));
    options.cb_loudnesstarget->setCurrentIndex(4);
    options.cbk_limitpeaks->setChecked(false);
    options.cbk_leaveunchanged->setChecked(true);
    QTest::mouseClick(options.Button1, Qt::LeftButton);
    EXPECT_FALSE(options.isVisible());
    EXPECT_EQ(str(options.ed_prefix->text()), "loud_");

    options.show();
    options.close();  // the close box
    EXPECT_EQ(str(options.ed_prefix->text()), "loud_");
    const tool_contracts::NormalizerLevels levels = options.normalizerLevels();
    EXPECT_EQ(levels.target.lufs, -24);
    EXPECT_EQ(levels.target.ceilingDbtp, -2);
    EXPECT_FALSE(levels.limitPeaks);
    EXPECT_TRUE(options.cbk_leaveunchanged->isChecked());
}

TEST(SmallForms, AboutShowsThisYearAndOpensTheHomepage)
{
    Tabout about;
    EXPECT_EQ(str(about.windowTitle()), "About");
    EXPECT_TRUE(about.Button1->isDefault());
    EXPECT_FALSE(about.Image1->pixmap().isNull());
    about.label_copyright->clear();

    about.show();
    const QString year = QDate::currentDate().toString(QStringLiteral("yyyy"));
    EXPECT_EQ(str(about.label_copyright->text()), str("Copyright © " + year + " Auralon"));

    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "open");
    QTest::mouseClick(about.link_homepage, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    ASSERT_EQ(recorder.opened.size(), 1);
    EXPECT_EQ(str(recorder.opened.front().toString()), "https://auralon.example.org/");

}

TEST(SmallForms, PeakPictureIsAJpeg)
{
    Tdetails_peak peak(programFont());
    QImageReader reader(QStringLiteral(":/pictures/peaks.jpg"));
    EXPECT_EQ(reader.format().toStdString(), "jpeg");
    ASSERT_FALSE(peak.Image1->pixmap().isNull());
    EXPECT_EQ(peak.Image1->pixmap().size(), QSize(92, 137));
    EXPECT_EQ(peak.Image1->size(), QSize(98, 126));
}

TEST(SmallForms, DetailsDialogsTextsAndSizes)
{
    struct Row {
        std::unique_ptr<QDialog> dialog;
        QSize client, panel, label;
        std::string text;
    };
    Row rows[2];
    rows[0] = {std::make_unique<Tdetails_peak>(programFont()), {479, 196}, {456, 138}, {322, 115},
               "This only considers how loud the peaks of the waveform are (shown in red on the "
               "right) for deciding the overall volume of the file. \n\nThis is the best method if "
               "you want to make the audio as loud as possible. In digital audio you can't get any "
               "louder than the highest peak at 0 dBFS, so normalizing to this value will create "
               "the loudest file you can."};
    rows[1] = {std::make_unique<Tdetails_rms>(programFont()), {349, 176}, {325, 116}, {298, 91},
               "This considers the 'overall' loudness of a file. There may be large peaks, but "
               "also softer sections. It takes an average and calls that the volume. \n\nThis "
               "method is closer to how the human ear works and will create more natural results "
               "across varying audio or video files."};
    for (Row& row : rows) {
        QDialog& dialog = *row.dialog;
        SCOPED_TRACE(str(dialog.objectName()));
        auto* panel = dialog.findChild<QWidget*>(QStringLiteral("Panel1"));
        auto* label = dialog.findChild<QLabel*>(QStringLiteral("Label1"));
        auto* button = dialog.findChild<QPushButton*>(QStringLiteral("Button1"));
        ASSERT_TRUE(panel && label && button);
        EXPECT_TRUE(dialog.windowTitle().isEmpty());
        EXPECT_EQ(dialog.size(), row.client);
        EXPECT_EQ(panel->size(), row.panel);
        EXPECT_EQ(label->size(), row.label);
        EXPECT_EQ(str(label->text()), row.text);
        EXPECT_TRUE(label->wordWrap());
        // The whole text fits: nothing is cut off at the label's bottom.
        EXPECT_LE(label->heightForWidth(label->width()), label->height());
        EXPECT_EQ(button->size(), QSize(106, 33));
    }
}

#include "test_small_forms.moc"
