#include "app/Toptions.h"

#include "analysis/RunLimit.h"
#include "app/ProgramFont.h"
#include "app/CharacterFilter.h"
#include "base/ValueCorrections.h"

#include <QCheckBox>
#include <QComboBox>
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
constexpr int kFilesAtOnceTop = 156;
constexpr int kFilesAtOnceHeight = 50;
constexpr int kLeaveUnchangedTop = kFilesAtOnceTop + kFilesAtOnceHeight;
constexpr int kLeaveUnchangedHeight = 28;
constexpr int kAlbumSetsTop = kLeaveUnchangedTop + kLeaveUnchangedHeight;
constexpr int kAlbumSetsHeight = 32;
constexpr int kWritingTop = kAlbumSetsTop + kAlbumSetsHeight;
constexpr int kWritingHeight = 32;
constexpr int kCheckOutputsTop = kWritingTop + kWritingHeight;
constexpr int kCheckOutputsHeight = 28;
constexpr int kAddedHeight =
    kFilesAtOnceHeight + kLeaveUnchangedHeight + kAlbumSetsHeight + kWritingHeight + kCheckOutputsHeight;

}  // namespace

Toptions::Toptions(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint
                          | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Toptions"));
    setWindowTitle(QStringLiteral("Options"));
    setFont(programFont());
    setFixedSize(357, 221 + kAddedHeight);

    // Created first so that it leads the tab order and has the focus on opening.
    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(136, 180 + kAddedHeight, 85, 27);
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

    Label2 = new QLabel(QStringLiteral("Loudness target"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(24, 74, 309, 16);

    cb_loudnesstarget = new QComboBox(this);
    cb_loudnesstarget->setObjectName(QStringLiteral("cb_loudnesstarget"));
    cb_loudnesstarget->setGeometry(24, 94, 309, 24);
    cb_loudnesstarget->setEditable(false);
    for (const tool_contracts::LoudnessTarget& target : tool_contracts::kLoudnessTargets)
        cb_loudnesstarget->addItem(QString::fromLatin1(target.label.data(), qsizetype(target.label.size())));
    Label2->setBuddy(cb_loudnesstarget);

    cbk_limitpeaks = new QCheckBox(QStringLiteral("Limit peaks to reach the target"), this);
    cbk_limitpeaks->setObjectName(QStringLiteral("cbk_limitpeaks"));
    cbk_limitpeaks->setGeometry(24, 128, 309, 20);
    cbk_limitpeaks->setChecked(true);

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

    cbk_leaveunchanged = new QCheckBox(QStringLiteral("Leave files that need less than 0.5 dB unchanged"), this);
    cbk_leaveunchanged->setObjectName(QStringLiteral("cbk_leaveunchanged"));
    cbk_leaveunchanged->setGeometry(24, kLeaveUnchangedTop, 309, 20);
    cbk_leaveunchanged->setChecked(false);  // every row is re-encoded unless asked

    cb_albumsets = new QComboBox(this);
    cb_albumsets->setObjectName(QStringLiteral("cb_albumsets"));
    cb_albumsets->setGeometry(24, kAlbumSetsTop, 309, 24);
    cb_albumsets->addItems({QStringLiteral("Album: the whole list"), QStringLiteral("Album: each folder")});
    cb_albumsets->setToolTip(QStringLiteral("Which files the album and average modes take as one set"));

    cb_writing = new QComboBox(this);
    cb_writing->setObjectName(QStringLiteral("cb_writing"));
    cb_writing->setGeometry(24, kWritingTop, 309, 24);
    cb_writing->addItems({QStringLiteral("Adjusted audio"), QStringLiteral("Loudness tags only (audio untouched)")});
    connect(cb_writing, &QComboBox::currentIndexChanged, this,
            [this](int index) { emit writingChosen(static_cast<JobSettings::Writing>(index)); });

    cbk_checkoutputs = new QCheckBox(QStringLiteral("Check every output after writing"), this);
    cbk_checkoutputs->setObjectName(QStringLiteral("cbk_checkoutputs"));
    cbk_checkoutputs->setGeometry(24, kCheckOutputsTop + 4, 309, 20);
    cbk_checkoutputs->setChecked(true);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(12, 164 + kAddedHeight, 333, 2);

    connect(Button1, &QPushButton::clicked, this, &Toptions::Button1Click);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

tool_contracts::NormalizerLevels Toptions::normalizerLevels() const
{
    tool_contracts::NormalizerLevels levels;
    const int index = cb_loudnesstarget->currentIndex();
    if (index >= 0 && index < int(tool_contracts::kLoudnessTargets.size()))
        levels.target = tool_contracts::kLoudnessTargets[std::size_t(index)];
    levels.limitPeaks = cbk_limitpeaks->isChecked();
    return levels;
}

bool Toptions::groupByFolder() const
{
    return cb_albumsets->currentIndex() == 1;
}

void Toptions::Button1Click()
{
    accept();
}
