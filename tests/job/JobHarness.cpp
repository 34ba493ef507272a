#include "JobHarness.h"

#include "base/ProgramFolders.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>


namespace fs = std::filesystem;

namespace jobtest {

namespace {

testsupport::FakeToolFolder& linkedTools(testsupport::FakeToolFolder& tools)
{
    tools.linkReal(testsupport::FakeToolFolder::Tool::Converter);
    tools.linkReal(testsupport::FakeToolFolder::Tool::Normalizer);
    tools.useAsWindowsDirectory();
    return tools;
}

}  // namespace

JobHarness::JobHarness()
{
    linkedTools(tools_);
    fs::create_directories(outputFolder());
    main().setFileDialogs(&dialogs_);
    // Jobs run again into the same folder replace what the last one wrote, as its user chose.
    boxes_.answerWith(QStringLiteral("Replace"));
}

JobHarness::~JobHarness()
{
    main().setFileDialogs(nullptr);
}

fs::path JobHarness::makeFile(const std::string& name, std::vector<std::string> args)
{
    const fs::path path = dir_ / name;
    args.push_back(path.string());
    testsupport::ffmpeg(args);
    return path;
}

void JobHarness::addFiles(const std::vector<fs::path>& files)
{
    for (const fs::path& file : files)
        main().add_file_b(QString::fromStdString(file.string()));
    ASSERT_EQ(main().rowCount(), static_cast<int>(files.size())) << "a file was refused";
}

void JobHarness::runJob(const std::function<bool()>& whileRunning)
{
    dialogs_.answerFolder(QString::fromStdString(outputFolder().string()));
    bool helperDone = !whileRunning;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!helperDone && main().jobActive())
            helperDone = whileRunning();
    });
    poll.start();
    main().BitBtn1->click();
    // The stages after the first start from the main window's timers.
    [[maybe_unused]] const bool ended =
        QTest::qWaitFor([this] { return !main().jobActive(); }, 240000);
    poll.stop();
    ASSERT_FALSE(main().jobActive()) << "the job did not end";
    QCoreApplication::processEvents();
}

std::vector<QString> JobHarness::textsWithCaption(const QString& caption) const
{
    std::vector<QString> texts;
    for (const auto& box : boxes_.boxes())
        if (box.caption == caption)
            texts.push_back(box.text);
    return texts;
}

int JobHarness::finishedMessages() const
{
    int n = 0;
    for (const auto& box : boxes_.boxes())
        n += box.text == QStringLiteral("Process is finished!") && box.caption.isEmpty()
             && box.icon == QMessageBox::Warning;
    return n;
}

void JobHarness::expectFinishedWithoutErrors() const
{
    for (const char* caption : {"Error!", "Error"})
        for (const QString& text : textsWithCaption(QString::fromLatin1(caption)))
            ADD_FAILURE() << text.toStdString();
    EXPECT_EQ(finishedMessages(), 1);
}

fs::path JobHarness::scratchFolder() const
{
    return program_folders::scratchFolder();
}

std::vector<fs::path> JobHarness::filesIn(const fs::path& folder) const
{
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file())
            files.push_back(it->path());
    return files;
}

}  // namespace jobtest
