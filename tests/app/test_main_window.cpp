// Start-up and the main window: the windows and their order, menu, size rules, the Delete
// key, the volume fields as typed into, and the stage dialogs' Cancel.
#include "app/stages/Tdetails_peak.h"
#include "app/stages/Tdetails_rms.h"
#include "app/stages/Tdetectpeak.h"
#include "app/stages/Trms.h"
#include "app/Startup.h"
#include "app/Tabout.h"
#include "app/ProgramFont.h"
#include "app/Tflash.h"
#include "app/Tmain.h"
#include "app/Toptions.h"
#include "app/stages/Tbatchaudioc.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"
#include "support/gui/FakeFileDialogs.h"
#include "support/gui/GuiApplication.h"
#include "support/gui/MessageBoxAnswerer.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QtTest/qtestspontaneevent.h>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <functional>

namespace {

[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new testsupport::GuiApplication);

QStringList actionTexts(const QMenu* menu)
{
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

// Runs opener and reports which modal dialog it showed; the dialog is closed again.
QWidget* modalShownBy(const std::function<void()>& opener)
{
    QWidget* shown = nullptr;
    QTimer::singleShot(0, [&shown] {
        shown = QApplication::activeModalWidget();
        if (shown)
            shown->close();
    });
    opener();
    return shown;
}

TEST(Startup, CreatesEveryWindowOnceAndShowsTheMainWindow)
{
    testsupport::MessageBoxAnswerer answers;
    Startup startup;
    Tmain& main = startup.mainWindow();

    EXPECT_TRUE(answers.boxes().empty());
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Auralon"));
    EXPECT_EQ(main.windowTitle(), QStringLiteral("Auralon " AURALON_VERSION));
    EXPECT_TRUE(main.isVisible());
    EXPECT_EQ(main.size(), QSize(1019, 658));
    EXPECT_EQ(main.font().pixelSize(), 11);
    for (QWidget* top : QApplication::topLevelWidgets())
        EXPECT_EQ(qobject_cast<Tflash*>(top), nullptr) << "the splash outlived the start-up";
    ASSERT_TRUE(main.about && main.batchaudioc && main.options && main.rms && main.detectpeak
                && main.details_rms && main.details_peak);
    EXPECT_EQ(main.about->label_version->text(), QStringLiteral("Version " AURALON_VERSION));

    EXPECT_EQ(main.File1->title(), QStringLiteral(" File "));
    EXPECT_EQ(actionTexts(main.File1), (QStringList{"Loudness Report", "Options", "-", "Exit"}));
    EXPECT_EQ(main.Help1->title(), QStringLiteral(" Help "));
    EXPECT_EQ(actionTexts(main.Help1), (QStringList{"Help Contents ", "-", "About"}));
    EXPECT_FALSE(main.HelpContents1->isVisible());

    ASSERT_EQ(main.cb_audioformat->count(), 16);
    EXPECT_EQ(main.cb_audioformat->currentText(), QStringLiteral("*.WAV"));
    EXPECT_EQ(main.cb_audioformat->itemText(14), QStringLiteral("*.AU"));
    EXPECT_EQ(main.cb_audioformat->itemText(15), QStringLiteral("*.OPUS"));
    EXPECT_TRUE(main.TabSheet1->acceptDrops());

    // Each opener shows its own dialog, the same one every time.
    struct Opener {
        std::function<void()> open;
        QWidget* dialog;
    } const openers[] = {
        {[&] { main.Options1->trigger(); }, main.options},
        {[&] { main.About1->trigger(); }, main.about},
        {[&] { QTest::mouseClick(main.Label2, Qt::LeftButton); }, main.details_rms},
        {[&] { QTest::mouseClick(main.Label3, Qt::LeftButton); }, main.details_peak},
        {[&] { main.Options1->trigger(); }, main.options},
    };
    for (const Opener& opener : openers)
        EXPECT_EQ(modalShownBy(opener.open), opener.dialog);

    // Loudness tags only: the modes that write no tags are not offered, and say why.
    main.radio_changegain->setChecked(true);
    for (int writing : {1, 0}) {
        main.options->cb_writing->setCurrentIndex(writing);
        for (QRadioButton* mode : {main.radio_weighted, main.radio_arithmetic, main.radio_peak_trackgain,
                                   main.radio_changepercent, main.radio_changegain}) {
            EXPECT_EQ(mode->isEnabled(), writing == 0) << mode->objectName().toStdString();
            EXPECT_EQ(mode->toolTip().contains(QStringLiteral("Loudness tags")), writing == 1);
        }
        EXPECT_TRUE(main.radio_singularly->isChecked());
        EXPECT_TRUE(main.radio_collectively->isEnabled());
    }

    main.Exit1->trigger();
    EXPECT_FALSE(main.isVisible());
}

TEST(MainWindow, ResizeBelowTheMinimumIsRefusedWhole)
{
    Tmain window;
    ASSERT_TRUE(testsupport::showActive(window));
    struct Row {
        QSize wanted;
        QSize result;
    } const rows[] = {
        {{1010, 700}, {1019, 658}},  // too narrow: the height does not change either
        {{1011, 600}, {1011, 600}},
        {{1200, 599}, {1011, 600}},
        {{1300, 800}, {1300, 800}},
        {{900, 500}, {1300, 800}},
    };
    for (const Row& row : rows) {
        window.resize(row.wanted);
        QCoreApplication::processEvents();
        EXPECT_EQ(window.size(), row.result) << row.wanted.width() << "x" << row.wanted.height();
    }
}

TEST(MainWindow, DeleteKeyRemovesOneRowWhateverHasTheFocusAndStillReachesTheField)
{
    testsupport::TempDir dir;
    testsupport::FakeFileDialogs dialogs;
    testsupport::MessageBoxAnswerer answers;
    Tmain window;
    window.setFileDialogs(&dialogs);
    ASSERT_TRUE(testsupport::showActive(window));
    QStringList names;
    for (const char* name : {"a.wav", "b.wav", "c.wav", "d.wav"}) {
        testsupport::makeSine(dir / name, -6, 0.3);
        names << QFile::decodeName(QByteArray::fromStdString((dir / name).native()));
    }
    dialogs.answerOpen(names);
    window.btn_add->click();
    window.ListView1->setCurrentItem(window.ListView1->topLevelItem(1));
    window.edit_volumegain->setText(QStringLiteral("12"));
    window.edit_volumegain->setCursorPosition(0);

    // An ignored key climbs the parents; each press still removes the selected row alone.
    struct Row {
        QWidget* focus;
        QStringList remaining;
    } const rows[] = {
        {window.edit_volumegain, {names[0], names[2], names[3]}},
        {window.ListView1, {names[0], names[3]}},
        {window.BitBtn1, {names[0]}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.focus->objectName().toStdString());
        row.focus->setFocus();
        QTest::keyClick(row.focus, Qt::Key_Delete);
        QStringList remaining;
        for (int i = 0; i < window.rowCount(); ++i)
            remaining << window.rowCaption(i);
        EXPECT_EQ(remaining, row.remaining);
    }
    EXPECT_EQ(window.edit_volumegain->text(), QStringLiteral("2"));
    EXPECT_TRUE(answers.boxes().empty());
}

TEST(MainWindow, ModeGroupDefaultsAndTabOrder)
{
    Tmain window;
    EXPECT_TRUE(window.radio_singularly->isChecked());
    EXPECT_EQ(window.spin_volumepercent->text(), QStringLiteral("100"));
    EXPECT_EQ(window.edit_volumegain->text(), QStringLiteral("0.00"));
    EXPECT_FALSE(window.cbk_audioformatconverting->isChecked());

    const QList<QWidget*> order{window.radio_singularly,   window.radio_arithmetic,
                                window.radio_collectively, window.radio_weighted,
                                window.radio_peak_trackgain, window.radio_changepercent,
                                window.spin_volumepercent,  window.radio_changegain,
                                window.edit_volumegain};
    QWidget* w = order.first();
    for (int i = 1; i < order.size(); ++i) {
        do
            w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus || !order.contains(w));
        EXPECT_EQ(w, order[i]) << "after " << order[i - 1]->objectName().toStdString();
    }

    window.radio_changegain->setChecked(true);
    EXPECT_FALSE(window.radio_singularly->isChecked());
    EXPECT_EQ(window.spin_volumepercent->text(), QStringLiteral("100"));
}

TEST(MainWindow, TypedVolumeValuesAreFilteredAndCorrectedOnLeaving)
{
    Tmain window;
    ASSERT_TRUE(testsupport::showActive(window));
    struct Row {
        QLineEdit* field;
        const char* typed;
        const char* left;
    } const rows[] = {
        {window.spin_volumepercent, "5000", "1000"},
        {window.spin_volumepercent, "0050", "50"},
        {window.spin_volumepercent, "1a2 .", "12"},
        {window.spin_volumepercent, "", "0"},
        {window.edit_volumegain, "-.", "0.00"},
        {window.edit_volumegain, "150", "100.00"},
        {window.edit_volumegain, "5.", "5"},
        {window.edit_volumegain, "-20", "-20"},
        {window.edit_volumegain, "x1.2.3", "0.00"},
    };
    for (const Row& row : rows) {
        row.field->setFocus();
        row.field->selectAll();
        QTest::keyClick(row.field, Qt::Key_Backspace);
        QTest::keyClicks(row.field, QString::fromLatin1(row.typed));
        QTest::keyClick(row.field, Qt::Key_Tab);
        EXPECT_EQ(row.field->text(), QString::fromLatin1(row.left)) << row.typed;
        EXPECT_NE(QApplication::focusWidget(), row.field);
    }

    // Up and Down step within 0..1000; the spin buttons too.
    window.spin_volumepercent->setFocus();
    window.spin_volumepercent->setText(QStringLiteral("999"));
    QTest::keyClick(window.spin_volumepercent, Qt::Key_Up);
    QTest::keyClick(window.spin_volumepercent, Qt::Key_Up);
    EXPECT_EQ(window.spin_volumepercent->text(), QStringLiteral("1000"));
    window.spin_volumepercent->setText(QStringLiteral("1"));
    window.spin_volumepercent_down->click();
    window.spin_volumepercent_down->click();
    EXPECT_EQ(window.spin_volumepercent->text(), QStringLiteral("0"));
    window.spin_volumepercent_up->click();
    EXPECT_EQ(window.volumePercent(), 1);
}

TEST(MainWindow, AdjustVolumeCorrectsTheFieldsBeforeItsClick)
{
    Tmain window;
    ASSERT_TRUE(testsupport::showActive(window));
    window.edit_volumegain->setFocus();
    window.spin_volumepercent->setText(QStringLiteral("9999"));
    window.edit_volumegain->setText(QStringLiteral("-."));
    QString seen;
    QObject::connect(window.BitBtn1, &QPushButton::clicked, [&] {
        seen = window.spin_volumepercent->text() + " " + window.edit_volumegain->text();
    });
    window.BitBtn1->click();
    EXPECT_EQ(seen, QStringLiteral("1000 0.00"));
    EXPECT_EQ(QApplication::focusWidget(), window.BitBtn1);
}

TEST(StageDialogs, CancelEscapeAndTheWindowManagersCloseCancelTheJob)
{
    Tbatchaudioc batch(programFont());
    Trms rms(programFont());
    Tdetectpeak peak(programFont());
    TFFEncoder host;  // the job's probe; nothing is probed here
    struct Row {
        StageDialog* dialog;
        QSize size;
    } const rows[] = {{&batch, {347, 89}}, {&rms, {333, 80}}, {&peak, {326, 79}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.dialog->objectName().toStdString());
        EXPECT_EQ(row.dialog->size(), row.size);
        auto* button = row.dialog->findChild<QPushButton*>(QStringLiteral("Button1"));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), QStringLiteral("Cancel"));
        EXPECT_EQ(row.dialog->findChild<QProgressBar*>(QStringLiteral("progresstotal"))->maximum(), 100);

        const auto cancels = [&](const std::function<void()>& action) {
            Job job(JobSettings{}, host.Decoder());
            bool cancelled = false;
            QObject::connect(&job, &Job::finished, [&](Job::Outcome outcome, const JobError&) {
                cancelled = outcome == Job::Outcome::Cancelled;
            });
            row.dialog->follow(job);
            QTimer::singleShot(0, action);
            row.dialog->exec();
            EXPECT_FALSE(row.dialog->isVisible());
            return cancelled;
        };
        EXPECT_TRUE(cancels([&] { button->click(); }));
        EXPECT_TRUE(cancels([&] { QTest::keyClick(row.dialog, Qt::Key_Escape); }));
        // Closing it from code (the end of a stage) is no cancel.
        EXPECT_FALSE(cancels([&] { row.dialog->close(); }));
        // Closed by the window manager, it cancels: the stage must not run on unseen.
        EXPECT_TRUE(cancels([&] {
            QCloseEvent close;
            QSpontaneKeyEvent::setSpontaneous(&close);
            qApp->notify(row.dialog, &close);  // sendEvent would clear the flag
        }));
    }
}

}  // namespace
