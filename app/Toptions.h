#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

// The Options dialog: the prefix put in front of every output file's name and how many files
// a stage works on at once. There is no Cancel: whatever the controls hold when the dialog
// closes, by "OK" or by the close box, holds from then on (while the program runs).
class Toptions : public QDialog {
    Q_OBJECT
public:
    explicit Toptions(QWidget* parent = nullptr);

    QPushButton* Button1;
    QLabel* Label1;
    QLineEdit* ed_prefix;
    QFrame* Bevel1;
    QLabel* label_filesatonce;
    QSpinBox* spin_filesatonce;  // 1..the usable cores, at first the default of run_limit

public slots:
    void Button1Click();
};
