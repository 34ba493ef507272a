#pragma once

#include "app/FileDialogs.h"

#include <deque>
#include <optional>
#include <utility>
#include <vector>

namespace testsupport {

// File dialogs that give queued answers and note how they were opened. A dialog opened
// with no answer queued is cancelled.
class FakeFileDialogs : public FileDialogs {
public:
    struct OpenCall {
        QWidget* owner = nullptr;
        QString filter;
    };
    struct FolderCall {
        QWidget* owner = nullptr;
        QString title;
        QString startFolder;
    };

    // The next open-file dialog returns these names (an empty list is a cancel).
    void answerOpen(const QStringList& names) { openAnswers_.push_back(names); }
    // The next folder chooser returns this folder, or is cancelled.
    void answerFolder(const QString& folder) { folderAnswers_.push_back({true, folder}); }
    void cancelFolder() { folderAnswers_.push_back({false, QString()}); }

    QStringList openFiles(QWidget* owner, const QString& filter) override;
    std::optional<QString> chooseFolder(QWidget* owner, const QString& title,
                                        const QString& startFolder) override;

    std::vector<OpenCall> openCalls;
    std::vector<FolderCall> folderCalls;

private:
    std::deque<QStringList> openAnswers_;
    std::deque<std::pair<bool, QString>> folderAnswers_;  // chosen?, folder
};

}  // namespace testsupport
