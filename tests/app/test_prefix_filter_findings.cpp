// Events found by fuzzing the Options dialog's prefix field, each of which used to put a
// character into the field that no file name prefix may hold.
#include "app/Toptions.h"
#include "support/gui/GuiApplication.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>

#include <functional>
#include <memory>
#include <string>

namespace {

[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new testsupport::GuiApplication);

void composed(QLineEdit* edit, const QString& commit, int from, int length)
{
    QInputMethodEvent event;
    event.setCommitString(commit, from, length);
    QApplication::sendEvent(edit, &event);
}

void keyWithText(QLineEdit* edit, int key, Qt::KeyboardModifiers modifiers, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(edit, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(edit, &release);
}

}  // namespace

TEST(PrefixFilterFindings, NoEventSlipsAForbiddenCharacterIntoThePrefix)
{
    const Qt::KeyboardModifiers allHeld = Qt::ControlModifier | Qt::MetaModifier |
                                          Qt::KeypadModifier | Qt::KeyboardModifier(0x80000000);
    struct Row {
        const char* name;
        std::function<void(QLineEdit*)> send;
        const char* expected = "ab";
    } rows[] = {
        // Editing keys passed whatever text they carried, and the field inserted it.
        {"arrow carrying a CJK character",
         [&](QLineEdit* e) { keyWithText(e, Qt::Key_Right, allHeld, QString(QChar(0x797A))); }},
        // A replacement starting past the end: the field filled the gap with a blank.
        {"composition past the end", [](QLineEdit* e) { composed(e, "T", 1, 1); }},
        {"replacement after the cursor",
         [](QLineEdit* e) {
             e->setText(QStringLiteral("ssab"));
             e->setCursorPosition(2);
             QInputMethodEvent composing(QStringLiteral("d"), {});
             composing.setCommitString(QStringLiteral("rf"), 2, 0);
             QApplication::sendEvent(e, &composing);
         },
         "ssab"},
        {"replacement reaching past the end",
         [](QLineEdit* e) {
             keyWithText(e, Qt::Key_Left, Qt::KeyboardModifiers::fromInt(0x42000000), {});
             QInputMethodEvent composing(QStringLiteral("EEE"), {});
             composing.setCommitString(QStringLiteral("EE"), 1, 2);
             QApplication::sendEvent(e, &composing);
         }},
        // Arrows moved the cursor across an uncommitted composition, past the end of the
        // text, and what was typed there came after a run of blanks.
        {"typing with the cursor past the end",
         [](QLineEdit* e) {
             QInputMethodEvent composing(QString::fromUtf8("\xe7\x8f\xbe" "3\x7f"), {});
             QApplication::sendEvent(e, &composing);
             keyWithText(e, Qt::Key_Right, Qt::KeyboardModifiers::fromInt(0x66000000), "333");
             keyWithText(e, Qt::Key_PageUp, Qt::KeyboardModifiers::fromInt(0x5a000000), "333");
         }},
        // Backspace is a key the field takes, but never a character of its text.
        {"composed backspace character", [](QLineEdit* e) { composed(e, "\b", -3, 0); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Toptions options;
        options.show();
        QLineEdit* edit = options.ed_prefix;
        edit->setFocus();
        edit->setText(QStringLiteral("ab"));
        row.send(edit);
        EXPECT_EQ(edit->text().toStdString(), row.expected);
    }
    // What a composition may do still works: replace the letter before the cursor.
    Toptions options;
    options.show();
    options.ed_prefix->setText(QStringLiteral("ab"));
    composed(options.ed_prefix, "c", -1, 1);
    EXPECT_EQ(options.ed_prefix->text().toStdString(), "ac");
}
