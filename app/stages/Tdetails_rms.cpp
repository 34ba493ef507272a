#include "app/stages/Tdetails_rms.h"

#include <QFont>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace {

const char* const kText =
    "This considers the 'overall' loudness of a file. There may be large peaks, but also "
    "softer sections. It takes an average and calls that the volume. \n"
    "\n"
    "This method is closer to how the human ear works and will create more natural results "
    "across varying audio or video files.";


}  // namespace

Tdetails_rms::Tdetails_rms(const QFont& font, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint
                          | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Tdetails_rms"));
    setWindowTitle(QString());
    setFont(font);
    setFixedSize(349, 176);

    // An etched edge: lowered outside, raised inside.
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Panel1->setGeometry(12, 10, 325, 116);

    Label1 = new QLabel(QString::fromUtf8(kText), Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setGeometry(14, 12, 298, 91);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry((349 - 106) / 2, 134, 106, 33);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &Tdetails_rms::Button1Click);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void Tdetails_rms::Button1Click()
{
    accept();
}
