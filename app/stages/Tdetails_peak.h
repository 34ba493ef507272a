#pragma once

#include <QDialog>

class QFont;
class QFrame;
class QLabel;
class QPushButton;

// Explains peak normalisation beside a picture of a wave with its highest peaks in red;
// opened from the "Details..." link beside the peak mode.
class Tdetails_peak : public QDialog {
    Q_OBJECT
public:
    // In the program's typeface, which the program gives.
    explicit Tdetails_peak(const QFont& font, QWidget* parent = nullptr);

    QFrame* Panel1;
    QLabel* Label1;
    QLabel* Image1;
    QPushButton* Button1;

public slots:
    void Button1Click();
};
