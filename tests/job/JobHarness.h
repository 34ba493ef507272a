#pragma once

#include "app/Startup.h"
#include "app/Tmain.h"
#include "support/FakeToolFolder.h"
#include "support/Processes.h"
#include "support/TempDir.h"
#include "support/gui/FakeFileDialogs.h"
#include "support/gui/MessageBoxAnswerer.h"

#include <QRadioButton>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace jobtest {

// The whole program in-process, with the real converter and normaliser in a tool folder of
// its own, folder choosers answered by the test and message boxes answered with OK ("Files
// Exist" with Replace, unless the test answers otherwise).
class JobHarness {
public:
    JobHarness();
    ~JobHarness();

    Tmain& main() { return startup_.mainWindow(); }
    testsupport::FakeToolFolder& tools() { return tools_; }
    testsupport::FakeFileDialogs& dialogs() { return dialogs_; }
    testsupport::MessageBoxAnswerer& boxes() { return boxes_; }
    const testsupport::TempDir& dir() const { return dir_; }
    std::filesystem::path outputFolder() const { return dir_ / "out"; }

    // Makes dir()/name with ffmpeg's `args` (everything before the output path).
    std::filesystem::path makeFile(const std::string& name, std::vector<std::string> args);
    // Adds the files to the list; fails the test when one was refused.
    void addFiles(const std::vector<std::filesystem::path>& files);
    void choose(QRadioButton* mode) { mode->setChecked(true); }

    // Presses "Adjust Volume" with the output folder answered, and waits until the job has
    // ended. `whileRunning`, when given, is called from the event loop every few ms while
    // the job runs (e.g. to press Cancel); it returns true once it has done its part.
    void runJob(const std::function<bool()>& whileRunning = {});

    // The texts of the boxes shown so far with the given caption.
    std::vector<QString> textsWithCaption(const QString& caption) const;
    int finishedMessages() const;
    // The job showed no error box and "Process is finished!" once.
    void expectFinishedWithoutErrors() const;

    std::filesystem::path scratchFolder() const;
    std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder) const;

private:
    testsupport::TempDir dir_;
    testsupport::FakeToolFolder tools_;
    testsupport::MessageBoxAnswerer boxes_;
    testsupport::FakeFileDialogs dialogs_;
    Startup startup_;
};

using testsupport::descendantsOf;
using testsupport::processAlive;

}  // namespace jobtest
