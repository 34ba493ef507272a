#include "app/Toptions.h"

#include "analysis/RunLimit.h"
#include "app/ProgramFont.h"
#include "app/CharacterFilter.h"
#include "app/ValueCorrections.h"

#include <QFont>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int kPrefixMaxLength = 20;
// The "Files at once" block sits below the controls above it; its height moves what follows.
constexpr int kFilesAtOnceTop = 72;
constexpr int kFilesAtOnceHeight = 50;

}  // namespace

Toptions::Toptions(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint
                          | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Toptions"));
    setWindowTitle(QStringLiteral("Options"));
    setFont(programFont());
    setFixedSize(357, 141 + kFilesAtOnceHeight);

    // Created first so that it leads the tab order and has the focus on opening.
    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(136, 100 + kFilesAtOnceHeight, 85, 27);
    Button1->setDefault(true);

    Label1 = new QLabel(QStringLiteral("Prefix of target files"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(24, 20, 309, 16);

    ed_prefix = new QLineEdit(this);
    ed_prefix->setObjectName(QStringLiteral("ed_prefix"));
    ed_prefix->setGeometry(24, 40, 309, 22);
    ed_prefix->setMaxLength(kPrefixMaxLength);
    ed_prefix->installEventFilter(new CharacterFilter(value_corrections::isPrefixKey, ed_prefix));
    Label1->setBuddy(ed_prefix);

    label_filesatonce = new QLabel(QStringLiteral("Files at once"), this);
    label_filesatonce->setObjectName(QStringLiteral("label_filesatonce"));
    label_filesatonce->setGeometry(24, kFilesAtOnceTop, 309, 16);
    spin_filesatonce = new QSpinBox(this);
    spin_filesatonce->setObjectName(QStringLiteral("spin_filesatonce"));
    spin_filesatonce->setGeometry(24, kFilesAtOnceTop + 20, 80, 22);
    // The environment may ask for more than the cores (benchmarks of the scaling).
    const int cores = run_limit::usableCores();
    const int preset = run_limit::defaultLimit(std::getenv(run_limit::kEnvironmentName), cores);
    spin_filesatonce->setRange(1, std::max(cores, preset));
    spin_filesatonce->setValue(preset);
    label_filesatonce->setBuddy(spin_filesatonce);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(12, 84 + kFilesAtOnceHeight, 333, 2);

    connect(Button1, &QPushButton::clicked, this, &Toptions::Button1Click);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void Toptions::Button1Click()
{
    accept();
}
