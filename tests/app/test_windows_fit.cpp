// Every window of the program on a 1366 by 768 screen, at normal size and at twice the size
// (a laptop at 200 %): it lies on the screen and no label or button text is cut. The list's
// long paths are shortened in the middle, with the whole path in the tip.
#include "app/stages/Tdetails_peak.h"
#include "app/stages/Tdetails_rms.h"
#include "app/stages/Tdetectpeak.h"
#include "app/stages/Trms.h"
#include "app/Startup.h"
#include "app/Tabout.h"
#include "app/Tmain.h"
#include "app/Toptions.h"
#include "app/stages/Tbatchaudioc.h"
#include "support/TempDir.h"
#include "support/gui/GuiApplication.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QHelpEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QTest>
#include <QToolTip>
#include <QTreeWidget>

#include <functional>

namespace {

[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new testsupport::GuiApplication);

constexpr int kScreenWidth = 1366;
constexpr int kScreenHeight = 768;
const char* const kScaleVariable = "AURALON_FIT_SCALE";

// The screen and the scale are fixed when the application starts, so each size runs in a
// child process of this test with the platform set up for it.
int runInChild(int scale, const testsupport::TempDir& dir)
{
    const QString config = QString::fromStdString((dir / "screen.json").string());
    const QString json = QStringLiteral(
        R"({"screens": [{"name": "laptop", "x": 0, "y": 0, "width": %1, "height": %2,)"
        R"( "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})")
                             .arg(kScreenWidth * scale)
                             .arg(kScreenHeight * scale);
    testsupport::writeFile(dir / "screen.json", json.toStdString());

    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + config);
    environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(scale));
    environment.insert(QString::fromLatin1(kScaleVariable), QString::number(scale));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QStringLiteral("/proc/self/exe"),
                {QStringLiteral("--gtest_filter=%1.%2").arg(QString::fromLatin1(test->test_suite_name()),
                                                            QString::fromLatin1(test->name()))});
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit)
        return -1;
    return child.exitCode();
}

QString describe(const QWidget* widget, const QString& text, const QString& problem)
{
    return QStringLiteral("%1 \"%2\": %3").arg(widget->objectName(), text, problem);
}

// A label's text is cut when it needs more room than its contents rectangle gives.
QString labelProblem(const QLabel* label)
{
    const QString text = label->text();
    if (text.isEmpty() || label->textFormat() == Qt::RichText)
        return QString();
    const int margin = label->margin();
    const QRect room = label->contentsRect().adjusted(margin, margin, -margin, -margin);
    const QFontMetrics metrics = label->fontMetrics();
    const QRect needed = label->wordWrap()
                             ? metrics.boundingRect(room, Qt::TextWordWrap | label->alignment(), text)
                             : metrics.boundingRect(QRect(), Qt::TextSingleLine, text);
    if (needed.width() > room.width() || needed.height() > room.height())
        return describe(label, text, QStringLiteral("needs %1x%2, has %3x%4")
                                         .arg(needed.width()).arg(needed.height())
                                         .arg(room.width()).arg(room.height()));
    return QString();
}

QString buttonProblem(QAbstractButton* button)
{
    const QString text = button->text();
    if (text.isEmpty())
        return QString();
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = text;
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    QStyle::SubElement contents;
    if (qobject_cast<QPushButton*>(button))
        contents = QStyle::SE_PushButtonContents;
    else if (qobject_cast<QCheckBox*>(button))
        contents = QStyle::SE_CheckBoxContents;
    else if (qobject_cast<QRadioButton*>(button))
        contents = QStyle::SE_RadioButtonContents;
    else
        return QString();
    const int room = button->style()->subElementRect(contents, &option, button).width();
    const int needed = button->fontMetrics().horizontalAdvance(text)
                       + (option.icon.isNull() ? 0 : option.iconSize.width() + 4);
    if (needed > room)
        return describe(button, text, QStringLiteral("needs %1, has %2").arg(needed).arg(room));
    return QString();
}

QStringList cutTexts(QWidget* window)
{
    QStringList problems;
    for (QLabel* label : window->findChildren<QLabel*>())
        if (label->isVisibleTo(window))
            if (QString p = labelProblem(label); !p.isEmpty())
                problems << p;
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
        if (button->isVisibleTo(window))
            if (QString p = buttonProblem(button); !p.isEmpty())
                problems << p;
    return problems;
}

struct WindowRow {
    QString name;
    std::function<QWidget*()> make;  // shows nothing yet; the row shows and checks it
};

void checkEveryWindow(int scale)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    ASSERT_EQ(screen->geometry().size(), QSize(kScreenWidth, kScreenHeight));
    ASSERT_DOUBLE_EQ(screen->devicePixelRatio(), scale);

    Startup windows;
    Tmain& main = windows.mainWindow();
    const QString longPath = QStringLiteral(
        "/home/someone/Music/Some Artist - A Rather Long Album Title (Deluxe Edition)/CD 2/"
        "07 - A Track With A Very Long Name Indeed (Live at the Royal Albert Hall, Remastered).flac");
    std::vector<std::unique_ptr<QMessageBox>> boxes;
    auto box = [&](QMessageBox::Icon icon, const QString& caption, const QString& text) {
        return [&, icon, caption, text]() -> QWidget* {
            boxes.push_back(std::make_unique<QMessageBox>(icon, caption, text, QMessageBox::Ok, &main));
            return boxes.back().get();
        };
    };
    auto stage = [](StageDialog* dialog, const QString& status) {
        return [dialog, status]() -> QWidget* {
            dialog->Label1->setText(status);
            dialog->showFileOfCount(9998, 9999);  // "File 9999 of 9999"
            return dialog;
        };
    };
    QString report;
    for (int i = 0; i < 4; ++i)
        report += QStringLiteral("### [mp3 @ 0x55d0c8] Error while decoding stream #0:0: Invalid data found when processing input   ");

    const WindowRow rows[] = {
        {"main window", [&]() -> QWidget* {
             main.label_totalfiles->setText(QStringLiteral("9999 Files"));
             return &main;
         }},
        {"About", [&]() -> QWidget* { return main.about; }},
        {"Options", [&]() -> QWidget* { return main.options; }},
        {"RMS details", [&]() -> QWidget* { return main.details_rms; }},
        {"peak details", [&]() -> QWidget* { return main.details_peak; }},
        {"conversion", stage(main.batchaudioc, QStringLiteral("Prepare Audio Data 10:00:00.00 ......"))},
        {"final conversion", stage(main.batchaudioc, QStringLiteral("Process 10:00:00.00 ......"))},
        {"RMS stage", stage(main.rms, QStringLiteral("Analyze data......"))},
        {"peak stage", stage(main.detectpeak, QStringLiteral("Analyze data......"))},
        {"empty list", box(QMessageBox::Critical, QStringLiteral("Error"), QStringLiteral("Please add files!"))},
        {"finished", box(QMessageBox::Warning, QString(), QStringLiteral("Process is finished!"))},
        {"load error", box(QMessageBox::Critical, QString(), QStringLiteral("File load error: ") + longPath)},
        {"tool errors", box(QMessageBox::Critical, QStringLiteral("Error!"), report)},
    };
    const QRect available = screen->availableGeometry();
    for (const WindowRow& row : rows) {
        SCOPED_TRACE(row.name.toStdString());
        QWidget* window = row.make();
        ASSERT_NE(window, nullptr);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        const QRect frame = window->frameGeometry();
        EXPECT_LE(frame.width(), kScreenWidth);
        EXPECT_LE(frame.height(), kScreenHeight);
        EXPECT_TRUE(available.contains(frame))
            << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height();
        const QStringList problems = cutTexts(window);
        EXPECT_TRUE(problems.isEmpty()) << problems.join(QStringLiteral("\n")).toStdString();
        if (window != &main)
            window->hide();
    }
}

void checkAt(int scale)
{
    if (qgetenv(kScaleVariable) == QByteArray::number(scale)) {
        checkEveryWindow(scale);
        return;
    }
    testsupport::TempDir dir;
    EXPECT_EQ(runInChild(scale, dir), 0);
}

TEST(WindowsFit, EveryWindowAtNormalSize) { checkAt(1); }

TEST(WindowsFit, EveryWindowAtTwiceTheSize) { checkAt(2); }

TEST(WindowsFit, LongPathIsShortenedInTheMiddleAndWhollyInItsTip)
{
    Tmain main;
    main.resize(1019, 658);
    ASSERT_TRUE(testsupport::showActive(main));
    const QString path = QStringLiteral("/home/someone/Music/") + QString(300, QLatin1Char('y'))
                         + QStringLiteral("/track 01.flac");
    auto* item = new QTreeWidgetItem(main.ListView1, {path, QStringLiteral("1MB")});
    QCoreApplication::processEvents();

    EXPECT_EQ(main.ListView1->textElideMode(), Qt::ElideMiddle);
    EXPECT_EQ(main.rowCaption(0), path) << "the stored caption must stay whole";

    auto tipAt = [&](QPoint at) {
        QToolTip::hideText();
        QHelpEvent help(QEvent::ToolTip, at, main.ListView1->viewport()->mapToGlobal(at));
        QApplication::sendEvent(main.ListView1->viewport(), &help);
        return QToolTip::text();
    };
    EXPECT_EQ(tipAt(main.ListView1->visualItemRect(item).topLeft() + QPoint(20, 4)), path);
    const QRect sizeCell = main.ListView1->visualRect(main.ListView1->model()->index(0, 1));
    EXPECT_EQ(tipAt(sizeCell.center()), QStringLiteral("1MB"));
    // Below the rows the list still tells what it is for.
    const QPoint empty(10, main.ListView1->viewport()->height() - 5);
    ASSERT_EQ(main.ListView1->itemAt(empty), nullptr);
    EXPECT_EQ(tipAt(empty), QStringLiteral("Drag video or audio files and drop here"));
}

}  // namespace
