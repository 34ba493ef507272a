#include "WindowDriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QIcon>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

namespace {

constexpr int kPollMs = 20;

QString environment(const char* name)
{
    return QString::fromLocal8Bit(qgetenv(name));
}

}  // namespace

WindowDriver::WindowDriver()
    : result_(environment("AURALON_DRIVER_RESULT")),
      mode_(environment("AURALON_DRIVER_MODE")),
      output_(environment("AURALON_DRIVER_OUTPUT")),
      rows_(environment("AURALON_DRIVER_ROWS").toInt())
{
    // Made while the application itself is being made: the windows come later.
    qApp->installEventFilter(this);
    connect(&poll_, &QTimer::timeout, this, &WindowDriver::poll);
    poll_.start(kPollMs);
}

void WindowDriver::note(const QString& line) const
{
    QFile file(result_);
    if (file.open(QIODevice::Append | QIODevice::Text))
        file.write((line + QLatin1Char('\n')).toUtf8());
}

QMainWindow* WindowDriver::mainWindow() const
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String("Tmain") && widget->isVisible())
            return qobject_cast<QMainWindow*>(widget);
    return nullptr;
}

bool WindowDriver::listReady(QMainWindow& window) const
{
    // The rows come from the event loop after the window is shown; each is complete once
    // its probe has filled the Size cell.
    const auto* list = window.findChild<QTreeWidget*>(QStringLiteral("ListView1"));
    if (!list || list->topLevelItemCount() != rows_ || QApplication::activeModalWidget())
        return false;
    for (int row = 0; row < rows_; ++row)
        if (list->topLevelItem(row)->text(1).isEmpty())
            return false;
    return true;
}

void WindowDriver::poll()
{
    QMainWindow* window = mainWindow();
    if (ready_ || !window || !listReady(*window))
        return;
    ready_ = true;
    poll_.stop();
    const auto* list = window->findChild<QTreeWidget*>(QStringLiteral("ListView1"));
    for (int row = 0; row < list->topLevelItemCount(); ++row)
        note(QStringLiteral("row: ") + list->topLevelItem(row)->text(0));
    note(QStringLiteral("icon: ")
         + (window->windowIcon().isNull() ? QStringLiteral("none") : QStringLiteral("set")));
    note(QStringLiteral("ready"));
    if (mode_ == QLatin1String("gain") || mode_ == QLatin1String("rms"))
        startJob(*window);
}

void WindowDriver::startJob(QMainWindow& window)
{
    if (mode_ == QLatin1String("gain")) {
        window.findChild<QRadioButton*>(QStringLiteral("radio_changegain"))->click();
        window.findChild<QLineEdit*>(QStringLiteral("edit_volumegain"))->setText(QStringLiteral("-6"));
    } else {
        window.findChild<QRadioButton*>(QStringLiteral("radio_singularly"))->click();
    }
    // Pressed from the event loop: the job runs modal loops of its own, and this poll
    // should not be on the stack under them.
    auto* adjust = window.findChild<QPushButton*>(QStringLiteral("BitBtn1"));
    QMetaObject::invokeMethod(adjust, &QAbstractButton::click, Qt::QueuedConnection);
}

void WindowDriver::answerFolderChooser(QFileDialog& dialog)
{
    note(QStringLiteral("folder chooser: ") + dialog.windowTitle());
    // As typed into its name field: the dialog opens with its start folder's name there.
    dialog.selectFile(output_);
    const QStringList chosen = dialog.selectedFiles();
    note(QStringLiteral("chosen: ") + chosen.value(0));
    static_cast<QDialog&>(dialog).accept();  // as its Choose button does
}

void WindowDriver::answerMessage(QMessageBox& box)
{
    note(QStringLiteral("message: ") + box.windowTitle() + QLatin1Char('|') + box.text());
    const bool finished = box.text() == QLatin1String("Process is finished!");
    if (QAbstractButton* ok = box.button(QMessageBox::Ok))
        ok->click();
    else if (QAbstractButton* chosen = box.defaultButton())
        chosen->click();
    else
        box.accept();
    if (finished) {
        QPointer<QMainWindow> window(mainWindow());
        QTimer::singleShot(0, this, [this, window] {
            note(QStringLiteral("closing"));
            if (window)
                window->close();
        });
    }
}

bool WindowDriver::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Show)
        return false;
    // Answered from the dialog's own event loop, which exec() starts after the show.
    if (auto* dialog = qobject_cast<QFileDialog*>(watched)) {
        QPointer<QFileDialog> target(dialog);
        QTimer::singleShot(0, this, [this, target] { if (target) answerFolderChooser(*target); });
    } else if (auto* box = qobject_cast<QMessageBox*>(watched)) {
        QPointer<QMessageBox> target(box);
        QTimer::singleShot(0, this, [this, target] { if (target) answerMessage(*target); });
    }
    return false;
}
