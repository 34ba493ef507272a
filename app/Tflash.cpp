#include "app/Tflash.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>

Tflash::Tflash(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    Q_INIT_RESOURCE(forms_pictures);
    setObjectName(QStringLiteral("Tflash"));
    setFixedSize(398, 177);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(rect());
    Image1->setPixmap(QPixmap(QStringLiteral(":/pictures/splash.png")));

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}
