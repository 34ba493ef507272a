#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

// The Options dialog: the prefix put in front of every output file's name. There is no
// Cancel: whatever ed_prefix holds when the dialog closes, by "OK" or by the close box, is
// the prefix from then on.
class Toptions : public QDialog {
    Q_OBJECT
public:
    explicit Toptions(QWidget* parent = nullptr);

    QPushButton* Button1;
    QLabel* Label1;
    QLineEdit* ed_prefix;
    QFrame* Bevel1;

public slots:
    void Button1Click();
};
