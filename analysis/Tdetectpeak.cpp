#include "analysis/Tdetectpeak.h"

#include "app/Tmain.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace {

QFont programFont()
{
    QFont font(QStringLiteral("Verdana"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

}  // namespace

Tdetectpeak::Tdetectpeak(Tmain& main, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), main_(main)
{
    setObjectName(QStringLiteral("Tdetectpeak"));
    setFont(programFont());
    setFixedSize(326, 79);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(12, 6, 326 - 24, 16);

    progresstotal = new QProgressBar(this);
    progresstotal->setObjectName(QStringLiteral("progresstotal"));
    progresstotal->setRange(0, 100);
    progresstotal->setValue(0);
    progresstotal->setTextVisible(false);
    progresstotal->setGeometry(12, 25, 326 - 24, 17);

    Button1 = new QPushButton(QStringLiteral("Cancel"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setAutoDefault(false);
    Button1->setGeometry((326 - 75) / 2, 79 - 33, 75, 25);
    connect(Button1, &QPushButton::clicked, this, &Tdetectpeak::Button1Click);

    timer_dodetect = new QTimer(this);
    timer_dodetect->setObjectName(QStringLiteral("timer_dodetect"));
    timer_dodetect->setInterval(100);

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void Tdetectpeak::Button1Click()
{
    main_.cancel_flag = true;
    close();
}

void Tdetectpeak::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        Button1->click();  // does nothing while the button is disabled
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void Tdetectpeak::closeEvent(QCloseEvent* event)
{
    // Closing from the window manager (Alt+F4 and the like) is a Cancel: the stage must not
    // go on running without its dialog.
    if (event->spontaneous())
        main_.cancel_flag = true;
    QDialog::closeEvent(event);
}
