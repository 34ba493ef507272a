#include "app/Tabout.h"

#include "app/ProgramFont.h"
#include <QDate>
#include <QDesktopServices>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

namespace {

const char* const kHomepage = "https://auralon.example.org/";


QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    return label;
}

}  // namespace

Tabout::Tabout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint
                          | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    Q_INIT_RESOURCE(forms_pictures);
    setObjectName(QStringLiteral("Tabout"));
    setWindowTitle(QStringLiteral("About"));
    setFont(programFont(11));
    setFixedSize(372, 178);

    Image1 = makeLabel(this, "Image1", QString(), QRect(20, 20, 96, 96));
    Image1->setPixmap(QPixmap(QStringLiteral(":/pictures/about.png")));

    label_product = makeLabel(this, "label_product", QStringLiteral("Auralon"),
                              QRect(136, 22, 220, 22));
    label_product->setFont(programFont(16, true));
    label_version = makeLabel(this, "label_version",
                              QStringLiteral("Version " AURALON_VERSION), QRect(136, 50, 220, 16));
    // Filled in by showEvent.
    label_copyright = makeLabel(this, "label_copyright", QString(), QRect(136, 72, 220, 16));

    link_homepage = makeLabel(this, "link_homepage", QString::fromLatin1(kHomepage),
                              QRect(136, 94, 220, 16));
    QFont linkFont = programFont(11);
    linkFont.setUnderline(true);
    link_homepage->setFont(linkFont);
    link_homepage->setStyleSheet(QStringLiteral("color: #0000ee;"));
    link_homepage->setCursor(Qt::PointingHandCursor);
    link_homepage->installEventFilter(this);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(143, 134, 86, 28);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &Tabout::Button1Click);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

bool Tabout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == link_homepage && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton
        && link_homepage->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
        link_homepageClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void Tabout::showEvent(QShowEvent* event)
{
    label_copyright->setText(QStringLiteral("Copyright © %1 Auralon")
                                 .arg(QDate::currentDate().toString(QStringLiteral("yyyy"))));
    QDialog::showEvent(event);
}

void Tabout::Button1Click()
{
    accept();
}

void Tabout::link_homepageClick()
{
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kHomepage)));
}
