#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QWidget;

// The two file-system dialogs the main window opens. The program always uses the real Qt
// dialogs (qtDialogs()); tests install their own answers through the same interface.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;

    // The open-file dialog: several files may be chosen. filter is in Qt's form
    // "Name (*.A *.B);;Other (*.C)", the first one selected, matched without regard to
    // letter case. Returns the chosen names in the dialog's order; empty on cancel.
    virtual QStringList openFiles(QWidget* owner, const QString& filter) = 0;

    // The folder chooser (folders only), opened at startFolder (empty: the desktop).
    // Returns the chosen folder, or nothing on cancel. The dialog is modal to the whole
    // program while it is open.
    virtual std::optional<QString> chooseFolder(QWidget* owner, const QString& title,
                                                const QString& startFolder) = 0;

    // The save-file dialog, filter as for openFiles; the chosen name gets the extension of the
    // filter chosen when it has none. Empty on cancel. Qt's own dialog unless overridden.
    virtual QString saveFile(QWidget* owner, const QString& title, const QString& filter);

    // The real dialogs.
    static std::unique_ptr<FileDialogs> qtDialogs();
};
