#include "app/MessageBoxes.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>

#include <utility>

namespace message_boxes {
namespace {

void show(QWidget* owner, QMessageBox::Icon icon, const QString& caption, const QString& text)
{
    QMessageBox box(icon, caption, text, QMessageBox::Ok, owner);
    box.setObjectName(QStringLiteral("message_box"));
    box.exec();
}

}  // namespace

std::optional<existing_outputs::Choice> askExisting(QWidget* owner, int count, const std::vector<QString>& names)
{
    QString text = count == 1 ? QStringLiteral("1 output would replace an existing file:")
                              : QStringLiteral("%1 outputs would replace existing files:").arg(count);
    text += QLatin1Char('\n');
    for (const QString& name : names)
        text += QLatin1Char('\n') + name;
    if (count > static_cast<int>(names.size()))
        text += QStringLiteral("\n… and %1 more").arg(count - static_cast<int>(names.size()));
    QMessageBox box(QMessageBox::Question, QStringLiteral("Files Exist"), text, QMessageBox::NoButton, owner);
    box.setObjectName(QStringLiteral("files_exist"));
    box.setInformativeText(QStringLiteral("Keep Both writes such outputs as \"name (1).ext\", \"name (2).ext\", ...; "
                                          "Skip Those leaves their rows undone."));
    using existing_outputs::Choice;
    const std::pair<const char*, Choice> choices[] = {
        {"Keep Both", Choice::KeepBoth}, {"Replace", Choice::Replace}, {"Skip Those", Choice::Skip}};
    std::vector<std::pair<QAbstractButton*, Choice>> buttons;
    for (const auto& [label, choice] : choices)
        buttons.emplace_back(box.addButton(QString::fromLatin1(label), QMessageBox::AcceptRole), choice);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(static_cast<QPushButton*>(buttons.front().first));
    box.exec();
    for (const auto& [button, choice] : buttons)
        if (box.clickedButton() == button)
            return choice;
    return std::nullopt;
}

void showError(QWidget* owner, const QString& caption, const QString& text)
{
    show(owner, QMessageBox::Critical, caption, text);
}

void showExclamation(QWidget* owner, const QString& caption, const QString& text)
{
    show(owner, QMessageBox::Warning, caption, text);
}

}  // namespace message_boxes
