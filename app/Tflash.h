#pragma once

#include <QWidget>

class QLabel;

// The start-up picture: a frameless window, 398 x 177, centred on the screen, shown while
// the other windows are being created.
class Tflash : public QWidget {
    Q_OBJECT
public:
    explicit Tflash(QWidget* parent = nullptr);

    QLabel* Image1;
};
