#pragma once

#include <QObject>

#include <functional>

class QChar;
class QEvent;

// Drops every typed character the predicate refuses, for a line edit or a spin box it is
// installed on (installEventFilter). Keys that carry no character of their own
// (Backspace, Delete, arrows, Home/End, Tab, Enter, Escape) pass. Nothing may reach the field
// around the filter either: the clipboard shortcuts, the context menu, text dropped on the
// field, middle-button pasting and input-method text holding a refused character are
// dropped as well.
class CharacterFilter : public QObject {
    Q_OBJECT
public:
    CharacterFilter(std::function<bool(QChar)> allowed, QObject* parent);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool allowsAll(const QString& text) const;
    void watchInnerEditOf(QObject* watched);

    std::function<bool(QChar)> allowed_;
};
