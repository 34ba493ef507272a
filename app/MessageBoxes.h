#pragma once

#include <QString>

class QWidget;

// The program's plain message boxes: one OK button, the caption as window title,
// owned by the given window.
namespace message_boxes {

// Stop icon: refused input, folder errors, tool errors, file errors.
void showError(QWidget* owner, const QString& caption, const QString& text);
// Exclamation icon: "Process is finished!".
void showExclamation(QWidget* owner, const QString& caption, const QString& text);

}  // namespace message_boxes
