#include "app/CharacterFilter.h"

#include <QAbstractSpinBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMouseEvent>

#include <utility>

namespace {

// Keys that move, delete or leave rather than type; their text (Delete gives "\x7f",
// Tab "\t") is not a character for the field.
bool isEditingKey(int key)
{
    switch (key) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        return true;
    default:
        return false;
    }
}

// Text that types something: anything but control characters ("\t", "\r", "\x7f", ...).
bool typesCharacters(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() != 0x7F)
            return true;
    }
    return false;
}

bool isClipboardShortcut(const QKeyEvent* key)
{
    static const QKeySequence::StandardKey kShortcuts[] = {
        QKeySequence::Paste, QKeySequence::Copy,  QKeySequence::Cut,
        QKeySequence::SelectAll, QKeySequence::Undo, QKeySequence::Redo,
    };
    for (const QKeySequence::StandardKey shortcut : kShortcuts) {
        if (key->matches(shortcut))
            return true;
    }
    // Any other Ctrl combination with a character is a control character too.
    return (key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) && !key->text().isEmpty()
        && !isEditingKey(key->key());
}

// Whether text put at the field's cursor, shifted by `offset`, would land past the end of
// its text: the field fills the gap with blanks, which no look at the typed text would see.
// A composition's replacement can reach there, and the cursor itself can stand there after
// moving across a composition that was never committed.
bool insertsPastTheEnd(QObject* watched, int offset)
{
    const auto* edit = qobject_cast<const QLineEdit*>(watched);
    if (!edit && qobject_cast<QAbstractSpinBox*>(watched))
        edit = watched->findChild<QLineEdit*>();
    if (!edit)
        return offset > 0;
    return edit->cursorPosition() + offset > edit->text().size();
}

bool isMiddleButton(const QEvent* event)
{
    return static_cast<const QMouseEvent*>(event)->button() == Qt::MiddleButton;
}

}  // namespace

CharacterFilter::CharacterFilter(std::function<bool(QChar)> allowed, QObject* parent)
    : QObject(parent), allowed_(std::move(allowed))
{
}

bool CharacterFilter::allowsAll(const QString& text) const
{
    // A control character is a key's doing (Backspace's "\b"), never text for the field.
    for (const QChar c : text) {
        if (!typesCharacters(c) || !allowed_(c))
            return false;
    }
    return true;
}

// A spin box's mouse, menu and drop events go to its inner line edit, not to the box.
void CharacterFilter::watchInnerEditOf(QObject* watched)
{
    if (!qobject_cast<QAbstractSpinBox*>(watched))
        return;
    for (QLineEdit* edit : watched->findChildren<QLineEdit*>()) {
        edit->removeEventFilter(this);  // installing twice would filter twice
        edit->installEventFilter(this);
    }
}

bool CharacterFilter::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (isClipboardShortcut(key))
            return true;
        // An editing key passes on its own; one that comes with text (an arrow with a
        // character from an odd layout or a synthetic event) has the field insert that text.
        if (isEditingKey(key->key()) && !typesCharacters(key->text()))
            return false;
        return !allowsAll(key->text()) || (typesCharacters(key->text()) && insertsPastTheEnd(watched, 0));
    }
    case QEvent::InputMethod: {
        const auto* composed = static_cast<QInputMethodEvent*>(event);
        return !allowsAll(composed->commitString())
            || (!composed->commitString().isEmpty()
                // Input methods replace what stands before the cursor; the field mangles a
                // replacement that starts after it.
                && (composed->replacementStart() > 0
                    || insertsPastTheEnd(watched,
                                         composed->replacementStart() + composed->replacementLength())));
    }
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        return isMiddleButton(event);
    case QEvent::Polish:
    case QEvent::Show:
    case QEvent::Enter:
    case QEvent::FocusIn:
        watchInnerEditOf(watched);
        return false;
    default:
        return false;
    }
}
