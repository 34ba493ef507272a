#include "app/MessageBoxes.h"

#include <QMessageBox>

namespace message_boxes {
namespace {

void show(QWidget* owner, QMessageBox::Icon icon, const QString& caption, const QString& text)
{
    QMessageBox box(icon, caption, text, QMessageBox::Ok, owner);
    box.setObjectName(QStringLiteral("message_box"));
    box.exec();
}

}  // namespace

void showError(QWidget* owner, const QString& caption, const QString& text)
{
    show(owner, QMessageBox::Critical, caption, text);
}

void showExclamation(QWidget* owner, const QString& caption, const QString& text)
{
    show(owner, QMessageBox::Warning, caption, text);
}

}  // namespace message_boxes
