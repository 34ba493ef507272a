#pragma once

#include "conversion/ExistingOutputs.h"

#include <QString>

#include <optional>
#include <string>
#include <vector>

class QWidget;

// The program's plain message boxes: one OK button, the caption as window title,
// owned by the given window.
namespace message_boxes {

// Stop icon: refused input, folder errors, tool errors, file errors.
void showError(QWidget* owner, const QString& caption, const QString& text);
// Exclamation icon: "Process is finished!".
void showExclamation(QWidget* owner, const QString& caption, const QString& text);
// "Files Exist": `count` outputs would replace files already there (the first few named in
// `names`). Keep Both (the default), Replace, Skip Those; nothing for Cancel.
std::optional<existing_outputs::Choice> askExisting(QWidget* owner, int count, const std::vector<QString>& names);

}  // namespace message_boxes
