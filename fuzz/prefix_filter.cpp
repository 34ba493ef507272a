// The Options dialog's prefix field under any sequence of typed keys, composed input-method
// text and paste attempts: whatever gets through, the field only ever holds what a file name
// may start with (letters, digits, "-" and "_"), at most twenty of them.
#include "FuzzCheck.h"

#include "app/Toptions.h"
#include "base/ValueCorrections.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>

#include <cstdint>
#include <cstdlib>

namespace {

QApplication* application = nullptr;
Toptions* options = nullptr;

// Keys a keyboard sends, the editing keys the filter lets pass, and any other code.
constexpr int kKeys[] = {
    Qt::Key_A,      Qt::Key_Z,        Qt::Key_0,     Qt::Key_9,     Qt::Key_Minus,
    Qt::Key_Underscore, Qt::Key_Slash, Qt::Key_Period, Qt::Key_Space, Qt::Key_V,
    Qt::Key_X,      Qt::Key_Insert,   Qt::Key_Backspace, Qt::Key_Delete, Qt::Key_Left,
    Qt::Key_Right,  Qt::Key_Up,       Qt::Key_Down,  Qt::Key_Home,  Qt::Key_End,
    Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Tab,   Qt::Key_Backtab, Qt::Key_Return,
    Qt::Key_Enter,  Qt::Key_Escape,   Qt::Key_Z,     Qt::Key_unknown, 0,
};

QString someText(FuzzedDataProvider& input, std::size_t maxUnits)
{
    QString text;
    const std::size_t units = input.ConsumeIntegralInRange<std::size_t>(0, maxUnits);
    for (std::size_t i = 0; i < units && input.remaining_bytes() > 0; ++i) {
        // Mostly ASCII, where the interesting refusals are; now and then any UTF-16 unit.
        const auto unit = input.ConsumeBool() ? input.ConsumeIntegralInRange<char16_t>(0, 0x7F)
                                              : input.ConsumeIntegral<char16_t>();
        text += QChar(unit);
    }
    return text;
}

void send(QEvent& event)
{
    QApplication::sendEvent(options->ed_prefix, &event);
}

void checkField()
{
    const QString text = options->ed_prefix->text();
    FUZZ_CHECK(text.size() <= 20);
    for (QChar c : text)
        FUZZ_CHECK(value_corrections::isPrefixKey(c) && c.unicode() > 0x20 && c.unicode() < 0x7F &&
                   c != u'/' && c != u'.');
}

void keyStroke(FuzzedDataProvider& input)
{
    int key = input.ConsumeBool() ? kKeys[input.ConsumeIntegralInRange<std::size_t>(0, std::size(kKeys) - 1)]
                                  : input.ConsumeIntegral<int>();
    const auto modifiers = Qt::KeyboardModifiers::fromInt(
        input.ConsumeIntegral<std::uint8_t>() << 25 & Qt::KeyboardModifierMask);
    const QString text = someText(input, 3);
    const bool autoRepeat = input.ConsumeBool();
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text, autoRepeat);
    send(press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text, autoRepeat);
    send(release);
}

void composedText(FuzzedDataProvider& input)
{
    const QString preedit = someText(input, 3);
    QInputMethodEvent event(preedit, {});
    const int from = input.ConsumeIntegralInRange<int>(-3, 3);
    const int length = input.ConsumeIntegralInRange<int>(0, 4);
    event.setCommitString(someText(input, 4), from, length);
    send(event);
}

void pasteAttempt(FuzzedDataProvider& input)
{
    QApplication::clipboard()->setText(someText(input, 8));
    constexpr std::pair<int, Qt::KeyboardModifiers> kPastes[] = {
        {Qt::Key_V, Qt::ControlModifier}, {Qt::Key_Insert, Qt::ShiftModifier},
        {Qt::Key_Z, Qt::ControlModifier}, {Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier},
    };
    const auto& [key, modifiers] = kPastes[input.ConsumeIntegralInRange<std::size_t>(0, 3)];
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    send(press);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    application = new QApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    // A fresh dialog every time: the field's undo history and composition must not carry
    // over, or a finding could not be replayed on its own.
    Toptions dialog;
    options = &dialog;
    dialog.show();
    dialog.ed_prefix->setFocus();
    dialog.ed_prefix->setText(QStringLiteral("ab"));
    while (input.remaining_bytes() > 0) {
        switch (input.ConsumeIntegralInRange<int>(0, 5)) {
        case 0:
            composedText(input);
            break;
        case 1:
            pasteAttempt(input);
            break;
        default:
            keyStroke(input);
            break;
        }
        checkField();
    }
    options = nullptr;
    return 0;
}
