#include "support/gui/FakeFileDialogs.h"

namespace testsupport {

QStringList FakeFileDialogs::openFiles(QWidget* owner, const QString& filter)
{
    openCalls.push_back({owner, filter});
    if (openAnswers_.empty())
        return {};
    QStringList names = openAnswers_.front();
    openAnswers_.pop_front();
    return names;
}

std::optional<QString> FakeFileDialogs::chooseFolder(QWidget* owner, const QString& title,
                                                     const QString& startFolder)
{
    folderCalls.push_back({owner, title, startFolder});
    if (folderAnswers_.empty())
        return std::nullopt;
    const auto [chosen, folder] = folderAnswers_.front();
    folderAnswers_.pop_front();
    if (!chosen)
        return std::nullopt;
    return folder;
}

}  // namespace testsupport
