#include "app/FileDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

class QtFileDialogs final : public FileDialogs {
public:
    QStringList openFiles(QWidget* owner, const QString& filter) override
    {
        // Qt's own dialog: its name filters ignore letter case, which native ones may not.
        return QFileDialog::getOpenFileNames(owner, QString(), QString(), filter, nullptr,
                                             QFileDialog::DontUseNativeDialog
                                                 | QFileDialog::ReadOnly);
    }

    std::optional<QString> chooseFolder(QWidget* owner, const QString& title,
                                        const QString& startFolder) override
    {
        QString start = startFolder;
        if (start.isEmpty())
            start = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        const QString chosen = QFileDialog::getExistingDirectory(
            owner, title, start, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
        if (chosen.isEmpty())
            return std::nullopt;
        return chosen;
    }
};

}  // namespace

QString FileDialogs::saveFile(QWidget* owner, const QString& title, const QString& filter)
{
    QString chosenFilter;
    QString name = QFileDialog::getSaveFileName(owner, title, QString(), filter, &chosenFilter,
                                                QFileDialog::DontUseNativeDialog);
    // "CSV (*.csv)" -> ".csv"
    const qsizetype star = chosenFilter.indexOf(QLatin1String("*."));
    if (!name.isEmpty() && QFileInfo(name).suffix().isEmpty() && star >= 0)
        name += chosenFilter.mid(star + 1, chosenFilter.indexOf(QLatin1Char(')'), star) - star - 1);
    return name;
}

std::unique_ptr<FileDialogs> FileDialogs::qtDialogs()
{
    return std::make_unique<QtFileDialogs>();
}
