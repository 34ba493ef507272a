#include "support/gui/MessageBoxAnswerer.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QPointer>
#include <QTimer>

namespace testsupport {

MessageBoxAnswerer::MessageBoxAnswerer(QObject* parent) : QObject(parent)
{
    qApp->installEventFilter(this);
}

MessageBoxAnswerer::~MessageBoxAnswerer()
{
    qApp->removeEventFilter(this);
}

QStringList MessageBoxAnswerer::texts() const
{
    QStringList list;
    for (const Box& box : boxes_)
        list << box.text;
    return list;
}

bool MessageBoxAnswerer::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Show)
        return false;
    auto* box = qobject_cast<QMessageBox*>(watched);
    if (!box)
        return false;
    boxes_.push_back({box->windowTitle(), box->text(), box->icon(), box->parentWidget()});
    // Pressed from the box's own event loop: exec() has not started it yet while the box
    // is being shown.
    QPointer<QMessageBox> target(box);
    QTimer::singleShot(0, box, [this, target] {
        if (!target)
            return;
        if (QAbstractButton* ok = target->button(QMessageBox::Ok))
            return ok->click();
        for (QAbstractButton* button : target->buttons())
            if (button->text() == choice_)
                return button->click();
        if (QAbstractButton* chosen = target->defaultButton())
            chosen->click();
        else
            target->accept();
    });
    return false;
}

}  // namespace testsupport
