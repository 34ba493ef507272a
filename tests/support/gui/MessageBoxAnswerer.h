#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>

#include <vector>

namespace testsupport {

// Answers every QMessageBox that opens while it lives, as a person would: it notes the
// caption, text, icon and owner, then presses OK once the box runs its own event loop.
// Since the program's message boxes are modal, the code that showed one goes on only
// after the answer, so a test can check boxes() right after the call that showed it. A box
// without OK is answered with the button answerWith() names, else with its default button.
class MessageBoxAnswerer : public QObject {
    Q_OBJECT
public:
    struct Box {
        QString caption;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QWidget* owner = nullptr;
    };

    explicit MessageBoxAnswerer(QObject* parent = nullptr);
    ~MessageBoxAnswerer() override;

    const std::vector<Box>& boxes() const { return boxes_; }
    QStringList texts() const;
    void clear() { boxes_.clear(); }
    void answerWith(const QString& buttonText) { choice_ = buttonText; }

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::vector<Box> boxes_;
    QString choice_;
};

}  // namespace testsupport
