// Quitting in the middle of things, as a person or a desktop session does: Exit, closing the
// main window, or a termination signal, during a job or over an open dialog. Nothing may be
// left behind: no tool process, no half-written output, no held scratch folder, no window.
#include "JobHarness.h"

#include "analysis/ScratchLock.h"
#include "app/stages/Trms.h"
#include "base/ProgramFolders.h"
#include "app/stages/Tbatchaudioc.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <fstream>
#include <optional>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using testsupport::FakeToolBehaviour;
using testsupport::FakeToolFolder;

namespace {

// The test process's QApplication is registered in test_job_progress.cpp.

// The program as main() sets it up, stop signals included, with its tools in a folder of
// the test's own.
class QuitHarness {
public:
    explicit QuitHarness(bool answerBoxes)
    {
        tools.linkReal(FakeToolFolder::Tool::Converter);
        tools.linkReal(FakeToolFolder::Tool::Normalizer);
        tools.useAsWindowsDirectory();
        fs::create_directories(outputFolder());
        if (answerBoxes)
            boxes.emplace();
        startup.emplace();
        startup->closeOnStopSignals();
        main().setFileDialogs(&dialogs);
    }
    ~QuitHarness() { main().setFileDialogs(nullptr); }

    Tmain& main() { return startup->mainWindow(); }
    fs::path outputFolder() const { return dir / "out"; }

    testsupport::TempDir dir;
    FakeToolFolder tools;
    std::optional<testsupport::MessageBoxAnswerer> boxes;
    testsupport::FakeFileDialogs dialogs;
    std::optional<Startup> startup;
};

struct Way {
    const char* name;
    std::function<void(Tmain&)> quit;
};

const Way kWays[] = {
    {"Exit", [](Tmain& main) { main.Exit1->trigger(); }},
    {"close", [](Tmain& main) { main.close(); }},
    {"SIGTERM", [](Tmain&) { ::raise(SIGTERM); }},
    {"SIGINT", [](Tmain&) { ::raise(SIGINT); }},
    {"SIGHUP", [](Tmain&) { ::raise(SIGHUP); }},
};

std::vector<QWidget*> visibleWindows()
{
    std::vector<QWidget*> shown;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible())
            shown.push_back(window);
    return shown;
}

// Starts a job and, once the stage's tool hangs with its child, quits the given way. Returns
// the processes that were below this one at that moment.
std::vector<long> quitDuringJob(QuitHarness& h, FakeToolFolder::Tool hanging, const Way& way,
                                const std::function<void()>& beforeQuit = {})
{
    h.tools.setFake(hanging, FakeToolBehaviour::hanging());
    h.dialogs.answerFolder(QString::fromStdString(h.outputFolder().string()));
    std::vector<long> children;
    bool quitSent = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (quitSent || h.tools.recordedRuns(hanging).empty())
            return;
        children = jobtest::descendantsOf(::getpid());
        if (children.size() < 2)
            return;  // the tool has not started its child yet
        if (beforeQuit)
            beforeQuit();
        quitSent = true;
        way.quit(h.main());
    });
    poll.start();
    h.main().BitBtn1->click();
    [[maybe_unused]] const bool ended = QTest::qWaitFor([&] { return !h.main().jobActive(); }, 60000);
    poll.stop();
    QCoreApplication::processEvents();
    EXPECT_TRUE(quitSent);
    return children;
}

TEST(QuitDuringJob, ConversionEndsItsToolAndLeavesNoPartialOutput)
{
    for (const Way& way : kWays) {
        SCOPED_TRACE(way.name);
        QuitHarness h(true);
        const fs::path source = h.dir / "a.wav";
        testsupport::makeSine(source, -6, 1);
        h.main().add_file_b(QString::fromStdString(source.string()));
        ASSERT_EQ(h.main().rowCount(), 1);
        h.main().radio_changegain->setChecked(true);

        std::string writePath;
        const std::vector<long> children =
            quitDuringJob(h, FakeToolFolder::Tool::Converter, way, [&] {
                writePath = h.tools.recordedRuns(FakeToolFolder::Tool::Converter).back().back();
                testsupport::writeFile(writePath, "half an output");  // as if it had begun
            });

        EXPECT_FALSE(h.main().jobActive());
        for (long pid : children)
            EXPECT_FALSE(jobtest::processAlive(pid)) << pid;
        ASSERT_FALSE(writePath.empty());
        EXPECT_FALSE(fs::exists(writePath));
        EXPECT_TRUE(fs::is_empty(h.outputFolder()));
        EXPECT_TRUE(h.boxes->boxes().empty()) << "no message on the way out";
        EXPECT_TRUE(visibleWindows().empty());
    }
}

TEST(QuitDuringJob, RmsStageEndsTheNormaliserAndLetsGoOfTheScratchFolder)
{
    for (const Way& way : kWays) {
        SCOPED_TRACE(way.name);
        QuitHarness h(true);
        for (const char* name : {"a.wav", "b.flac"}) {
            const fs::path source = h.dir / name;
            testsupport::makeSine(source, -6, 1);
            h.main().add_file_b(QString::fromStdString(source.string()));
        }
        ASSERT_EQ(h.main().rowCount(), 2);
        h.main().radio_weighted->setChecked(true);

        const std::vector<long> children = quitDuringJob(h, FakeToolFolder::Tool::Normalizer, way);

        EXPECT_FALSE(h.main().jobActive());
        for (long pid : children)
            EXPECT_FALSE(jobtest::processAlive(pid)) << pid;
        ScratchLock nextInstance;
        EXPECT_TRUE(nextInstance.acquire(program_folders::scratchFolder())) << nextInstance.error();
        EXPECT_TRUE(fs::is_empty(h.outputFolder()));
        EXPECT_TRUE(h.boxes->boxes().empty());
        EXPECT_TRUE(visibleWindows().empty());
    }
}

TEST(QuitOverDialog, EveryModalWindowClosesWithTheProgram)
{
    struct Opener {
        const char* name;
        std::function<void(Tmain&)> open;  // returns once the window has closed
    };
    const Opener openers[] = {
        {"Options", [](Tmain& main) { main.Options1->trigger(); }},
        {"About", [](Tmain& main) { main.About1->trigger(); }},
        {"RMS details", [](Tmain& main) { main.Label2Click(); }},
        {"peak details", [](Tmain& main) { main.Label3Click(); }},
        {"message box", [](Tmain& main) { main.BitBtn1->click(); }},  // "Please add files!"
    };
    for (const Opener& opener : openers)
        for (const Way& way : {kWays[0], kWays[1], kWays[2]}) {
            SCOPED_TRACE(std::string(opener.name) + " / " + way.name);
            QuitHarness h(false);
            ASSERT_TRUE(h.main().isVisible());
            bool quitSent = false;
            QTimer poll;
            poll.setInterval(5);
            QObject::connect(&poll, &QTimer::timeout, [&] {
                if (!quitSent && QApplication::activeModalWidget()) {
                    quitSent = true;
                    way.quit(h.main());
                }
            });
            poll.start();
            opener.open(h.main());
            poll.stop();
            QCoreApplication::processEvents();
            EXPECT_TRUE(quitSent);
            EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
            EXPECT_TRUE(visibleWindows().empty());
        }
}

bool catchesSignal(qint64 pid, int signalNumber)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (signalNumber - 1)) & 1U;
    return false;
}

TEST(QuitIdleProgram, StopSignalsEndItWithStatusZero)
{
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signalNumber);
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(environment);
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(QStringLiteral(AURALON_TEST_BIN_DIR "/auralon"), {});
        ASSERT_TRUE(program.waitForStarted(-1));
        // Up once its handler is in place; until then the signal would simply kill it.
        while (program.state() == QProcess::Running && !catchesSignal(program.processId(), signalNumber))
            ::usleep(10000);
        ASSERT_EQ(program.state(), QProcess::Running);
        ::kill(static_cast<pid_t>(program.processId()), signalNumber);
        ASSERT_TRUE(program.waitForFinished(-1));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
    }
}

}  // namespace
