#pragma once

#include <QDialog>

class QFont;
class QFrame;
class QLabel;
class QPushButton;

// Explains the RMS normalisation modes; opened from the "Details..." link beside them.
class Tdetails_rms : public QDialog {
    Q_OBJECT
public:
    // In the program's typeface, which the program gives.
    explicit Tdetails_rms(const QFont& font, QWidget* parent = nullptr);

    QFrame* Panel1;
    QLabel* Label1;
    QPushButton* Button1;

public slots:
    void Button1Click();
};
