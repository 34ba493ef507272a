#include "app/stages/Tdetails_peak.h"

#include <QFont>
#include <QFrame>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

namespace {

const char* const kText =
    "This only considers how loud the peaks of the waveform are (shown in red on the right) "
    "for deciding the overall volume of the file. \n"
    "\n"
    "This is the best method if you want to make the audio as loud as possible. In digital "
    "audio you can't get any louder than the highest peak at 0 dBFS, so normalizing to this "
    "value will create the loudest file you can.";


QPixmap peakPicture()
{
    QImageReader reader(QStringLiteral(":/pictures/peaks.jpg"), "jpeg");
    return QPixmap::fromImage(reader.read());
}

}  // namespace

Tdetails_peak::Tdetails_peak(const QFont& font, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint
                          | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    Q_INIT_RESOURCE(forms_pictures);
    setObjectName(QStringLiteral("Tdetails_peak"));
    setWindowTitle(QString());
    setFont(font);
    setFixedSize(479, 196);

    // An etched edge: lowered outside, raised inside.
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Panel1->setGeometry(12, 10, 456, 138);

    Label1 = new QLabel(QString::fromUtf8(kText), Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setGeometry(12, 12, 322, 115);

    // The picture is a little taller than its frame; centred, it loses only blank rows.
    Image1 = new QLabel(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setGeometry(456 - 98 - 8, 6, 98, 126);
    Image1->setPixmap(peakPicture());

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry((479 - 106) / 2, 155, 106, 33);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &Tdetails_peak::Button1Click);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void Tdetails_peak::Button1Click()
{
    accept();
}
