#include "app/Tmain.h"

#include "analysis/StallLimit.h"
#include "app/ProgramFont.h"
#include "app/CharacterFilter.h"
#include "app/FileDialogs.h"
#include "base/MediaExtensions.h"
#include "app/MessageBoxes.h"
#include "base/ProgramFolders.h"
#include "app/Tabout.h"
#include "app/ReportWindow.h"
#include "app/Toptions.h"
#include "base/ValueCorrections.h"
#include "app/stages/Tdetails_peak.h"
#include "app/stages/Tdetails_rms.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QGridLayout>
#include <QHelpEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QResizeEvent>
#include <QScreen>
#include <QTabWidget>
#include <QToolTip>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include <cstdlib>

namespace {

constexpr int kMinimumWidth = 1011;
constexpr int kMinimumHeight = 600;
const char* const kHelpAddress = "https://auralon.example.org/help/";

template <typename W>
W* named(W* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// The four list buttons' pictures, drawn here so that no picture file is needed.
enum class ButtonPicture { Add, Folder, Remove, Clear };

QIcon drawIcon(ButtonPicture picture)
{
    QPixmap pixmap(28, 28);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QPen outline(QColor(60, 60, 60), 1.2);

    auto sheet = [&](QRectF r) {
        QPainterPath path;
        path.moveTo(r.left(), r.top());
        path.lineTo(r.right() - 5, r.top());
        path.lineTo(r.right(), r.top() + 5);
        path.lineTo(r.right(), r.bottom());
        path.lineTo(r.left(), r.bottom());
        path.closeSubpath();
        p.setPen(outline);
        p.setBrush(QColor(250, 250, 250));
        p.drawPath(path);
        p.setPen(QPen(QColor(120, 150, 200), 1.5));
        for (qreal y = r.top() + 7; y < r.bottom() - 3; y += 4)
            p.drawLine(QPointF(r.left() + 3, y), QPointF(r.right() - 3, y));
    };
    auto badge = [&](QColor colour, bool plus) {
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawEllipse(QRectF(14, 14, 13, 13));
        p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(17.5, 20.5), QPointF(23.5, 20.5));
        if (plus)
            p.drawLine(QPointF(20.5, 17.5), QPointF(20.5, 23.5));
    };

    switch (picture) {
    case ButtonPicture::Add:
        sheet(QRectF(4, 2, 16, 21));
        badge(QColor(40, 150, 60), true);
        break;
    case ButtonPicture::Folder: {
        QPainterPath back;
        back.addRoundedRect(QRectF(2, 6, 24, 18), 2, 2);
        p.setPen(outline);
        p.setBrush(QColor(230, 180, 60));
        p.drawPath(back);
        p.drawRect(QRectF(2, 4, 10, 4));
        p.setBrush(QColor(250, 210, 100));
        QPolygonF front({QPointF(5, 11), QPointF(27, 11), QPointF(24, 24), QPointF(2, 24)});
        p.drawPolygon(front);
        p.setPen(QPen(QColor(40, 80, 160), 2.0));
        p.drawLine(QPointF(12, 21), QPointF(12, 14));
        p.drawEllipse(QRectF(8, 19, 4, 3));
        break;
    }
    case ButtonPicture::Remove:
        sheet(QRectF(4, 2, 16, 21));
        badge(QColor(200, 50, 40), false);
        break;
    case ButtonPicture::Clear:
        p.setPen(outline);
        p.setBrush(QColor(170, 170, 180));
        p.drawRect(QRectF(5, 5, 18, 3));
        p.drawRect(QRectF(11, 2, 6, 3));
        p.setBrush(QColor(210, 210, 220));
        p.drawPolygon(QPolygonF({QPointF(6, 9), QPointF(22, 9), QPointF(20, 26), QPointF(8, 26)}));
        p.setPen(QPen(QColor(110, 110, 120), 1.5));
        for (qreal x : {10.5, 14.0, 17.5})
            p.drawLine(QPointF(x, 12), QPointF(x, 23));
        break;
    }
    return QIcon(pixmap);
}

QToolButton* listButton(const char* name, ButtonPicture picture, const QString& hint)
{
    auto* button = named(new QToolButton, name);
    button->setFixedSize(35, 35);
    button->setIcon(drawIcon(picture));
    button->setIconSize(QSize(28, 28));
    button->setToolTip(hint);
    return button;
}

QLabel* explanation(const QString& text)
{
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    label->setContentsMargins(20, 0, 0, 0);  // under the button's caption, past its circle
    return label;
}

QLabel* detailsLink(const char* name)
{
    auto* link = named(new QLabel(QStringLiteral("Details...")), name);
    QFont font = link->font();
    font.setUnderline(true);
    link->setFont(font);
    QPalette palette = link->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    link->setPalette(palette);
    link->setCursor(Qt::PointingHandCursor);
    return link;
}

}  // namespace

Tmain::Tmain(QWidget* parent)
    : QMainWindow(parent), qtDialogs_(FileDialogs::qtDialogs()), dialogs_(qtDialogs_.get())
{
    setObjectName(QStringLiteral("Tmain"));
    setWindowTitle(QStringLiteral("Auralon " AURALON_VERSION));
    setFont(programFont(11));
    buildMenu();
    buildPage();

    // The minimum is refused as a whole (see resizeEvent), so the widget itself has none;
    // the window manager gets it as a hint once the window exists.
    layout()->setSizeConstraint(QLayout::SetNoConstraint);
    acceptedSize_ = QSize(1019, 658);
    resize(acceptedSize_);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    qApp->installEventFilter(this);
    FormCreate();
    setupJob();
    knownLevels_ = std::make_unique<KnownSourceLevels>(
        program_folders::meterPath(), FFdirectc.Decoder(),
        stall_limit::baseSeconds(std::getenv(stall_limit::kEnvironmentName)));
    idleMeasuring_.setSingleShot(true);
    connect(&idleMeasuring_, &QTimer::timeout, this, &Tmain::measureWhileIdle);
}

Tmain::~Tmain()
{
    qApp->removeEventFilter(this);
}

void Tmain::setFileDialogs(FileDialogs* dialogs)
{
    dialogs_ = dialogs ? dialogs : qtDialogs_.get();
}

FileDialogs& Tmain::fileDialogs()
{
    return *dialogs_;
}

void Tmain::buildMenu()
{
    File1 = named(menuBar()->addMenu(QStringLiteral(" File ")), "File1");
    LoudnessReport1 = named(File1->addAction(QStringLiteral("Loudness Report")), "LoudnessReport1");
    Options1 = named(File1->addAction(QStringLiteral("Options")), "Options1");
    File1->addSeparator();
    Exit1 = named(File1->addAction(QStringLiteral("Exit")), "Exit1");

    Help1 = named(menuBar()->addMenu(QStringLiteral(" Help ")), "Help1");
    HelpContents1 = named(Help1->addAction(QStringLiteral("Help Contents ")), "HelpContents1");
    HelpContents1->setVisible(false);
    Help1->addSeparator();
    About1 = named(Help1->addAction(QStringLiteral("About")), "About1");

    connect(LoudnessReport1, &QAction::triggered, this, &Tmain::LoudnessReport1Click);
    connect(Options1, &QAction::triggered, this, &Tmain::Options1Click);
    connect(Exit1, &QAction::triggered, this, &Tmain::Exit1Click);
    connect(HelpContents1, &QAction::triggered, this, &Tmain::HelpContents1Click);
    connect(About1, &QAction::triggered, this, &Tmain::About1Click);
}

void Tmain::buildPage()
{
    PageControl1 = named(new QTabWidget, "PageControl1");
    TabSheet1 = named(new QWidget, "TabSheet1");
    PageControl1->addTab(TabSheet1, QStringLiteral("Files"));
    setCentralWidget(PageControl1);

    ListView1 = named(new QTreeWidget, "ListView1");
    ListView1->setColumnCount(5);
    ListView1->setHeaderLabels({QStringLiteral("Files"), QStringLiteral("Size"),
                                QStringLiteral("Time"), QStringLiteral("Format"),
                                QStringLiteral("Peak Analysis")});
    const int widths[] = {450, 80, 90, 300, 50};
    for (int column = 0; column < 5; ++column)
        ListView1->setColumnWidth(column, widths[column]);
    ListView1->header()->setStretchLastSection(false);
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setAllColumnsShowFocus(true);
    // A long path keeps its start and its file name; the whole path is in the cell's tip.
    ListView1->setTextElideMode(Qt::ElideMiddle);
    // Grid lines, and a selection that stays visible while the list has no focus.
    ListView1->setStyleSheet(QStringLiteral(
        "QTreeView::item { border-right: 1px solid #d8d8d8; border-bottom: 1px solid #d8d8d8; }"
        "QTreeView::item:selected { background: palette(highlight);"
        " color: palette(highlighted-text); }"));
    const QString hint = QStringLiteral("Drag video or audio files and drop here");
    ListView1->setToolTip(hint);
    ListView1->viewport()->setToolTip(hint);
    connect(ListView1, &QTreeWidget::itemSelectionChanged, this, &Tmain::ListView1SelectionChanged);

    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(0);
    top->addWidget(ListView1, 1);
    top->addWidget(buildButtonStrip());

    auto* page = new QVBoxLayout(TabSheet1);
    page->setContentsMargins(4, 4, 4, 4);
    page->setSpacing(4);
    page->addLayout(top, 1);
    page->addWidget(buildPanel());
}

QWidget* Tmain::buildButtonStrip()
{
    auto* strip = new QWidget;
    strip->setFixedWidth(66);
    btn_add = listButton("btn_add", ButtonPicture::Add, QStringLiteral("Add"));
    btn_openfolder = listButton("btn_openfolder", ButtonPicture::Folder,
                                QStringLiteral("Add Files from Folder"));
    btn_remove = listButton("btn_remove", ButtonPicture::Remove, QStringLiteral("Remove"));
    btn_clear = listButton("btn_clear", ButtonPicture::Clear, QStringLiteral("Clear"));
    auto* column = new QVBoxLayout(strip);
    column->setContentsMargins(0, 8, 0, 8);
    column->setSpacing(10);
    for (QToolButton* button : {btn_add, btn_openfolder, btn_remove, btn_clear})
        column->addWidget(button, 0, Qt::AlignHCenter);
    column->addStretch(1);

    connect(btn_add, &QToolButton::clicked, this, &Tmain::btn_addClick);
    connect(btn_openfolder, &QToolButton::clicked, this, &Tmain::btn_openfolderClick);
    connect(btn_remove, &QToolButton::clicked, this, &Tmain::btn_removeClick);
    connect(btn_clear, &QToolButton::clicked, this, &Tmain::btn_clearClick);
    return strip;
}

QWidget* Tmain::buildPanel()
{
    Panel1 = named(new QWidget, "Panel1");
    Panel1->setFixedHeight(285);

    label_totalfiles = named(new QLabel, "label_totalfiles");
    label_totalfiles->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label_totalfiles->setMinimumWidth(120);

    BitBtn1 = named(new QPushButton(QStringLiteral("Adjust Volume")), "BitBtn1");
    BitBtn1->setFont(programFont(13, true));
    BitBtn1->setFixedSize(158, 44);
    // The job reads the fields as they stand: correct them before the click goes out,
    // also when the click comes from the keyboard or from code.
    connect(BitBtn1, &QPushButton::pressed, this, [this] {
        BitBtn1->setFocus(Qt::OtherFocusReason);
        spin_volumepercentExit();
        edit_volumegainExit();
    });

    cbk_audioformatconverting = named(new QCheckBox(QStringLiteral("Audio Format Converting")),
                                      "cbk_audioformatconverting");
    cb_audioformat = named(new QComboBox, "cb_audioformat");
    cb_audioformat->setEditable(false);
    cb_audioformat->setMaxVisibleItems(100);
    cb_audioformat->setFixedWidth(68);

    QGroupBox* group = buildModeGroup();

    auto* totalRow = new QHBoxLayout;
    totalRow->addStretch(1);
    totalRow->addWidget(label_totalfiles);

    auto* format = new QHBoxLayout;
    format->setSpacing(6);
    format->addSpacing(24);
    format->addWidget(cbk_audioformatconverting);
    format->addWidget(cb_audioformat);
    format->addStretch(1);

    // The button in the middle, the format choice to its right.
    auto* bottom = new QGridLayout;
    bottom->setColumnStretch(0, 1);
    bottom->setColumnStretch(2, 1);
    bottom->addWidget(BitBtn1, 0, 1);
    bottom->addLayout(format, 0, 2);

    auto* groupRow = new QHBoxLayout;
    groupRow->addStretch(1);
    groupRow->addWidget(group);
    groupRow->addStretch(1);

    auto* panel = new QVBoxLayout(Panel1);
    panel->setContentsMargins(0, 0, 0, 4);
    panel->setSpacing(4);
    panel->addLayout(totalRow);
    panel->addLayout(groupRow);
    panel->addLayout(bottom);
    panel->addStretch(1);
    return Panel1;
}

QGroupBox* Tmain::buildModeGroup()
{
    GroupBox1 = named(new QGroupBox, "GroupBox1");
    GroupBox1->setFixedSize(971, 201);

    auto heading = [](const char* name, const QString& text) {
        auto* label = named(new QLabel(text), name);
        label->setFont(programFont(13, true, true));
        return label;
    };
    heading_rms = heading("heading_rms", QStringLiteral("Normalize by RMS Amplitude"));
    heading_peak = heading("heading_peak", QStringLiteral("Normalize by Peak Level"));
    heading_direct = heading("heading_direct", QStringLiteral("Change Volume Directly"));
    Label2 = detailsLink("Label2");
    Label3 = detailsLink("Label3");

    auto radio = [](const char* name, const QString& caption) {
        auto* button = named(new QRadioButton(caption), name);
        QFont font = button->font();
        font.setBold(true);
        button->setFont(font);
        return button;
    };
    const QString trackGain = QStringLiteral("Singularly (Track Gain)");
    const QString loudest = QStringLiteral("Each file will be amplified to the maximum volume possible");
    radio_singularly = radio("radio_singularly", trackGain);
    radio_collectively = radio("radio_collectively", QStringLiteral("Collectively (Album Gain)"));
    radio_weighted = radio("radio_weighted", QStringLiteral("Weighted Average"));
    radio_arithmetic = radio("radio_arithmetic", QStringLiteral("Arithmetic Average"));
    radio_peak_trackgain = radio("radio_peak_trackgain", trackGain);
    radio_changepercent = radio("radio_changepercent", QStringLiteral("Percentage"));
    radio_changegain = radio("radio_changegain", QStringLiteral("Gain"));

    mode_group = new QButtonGroup(this);
    mode_group->setObjectName(QStringLiteral("mode_group"));
    for (QRadioButton* button : {radio_singularly, radio_collectively, radio_weighted,
                                 radio_arithmetic, radio_peak_trackgain, radio_changepercent,
                                 radio_changegain})
        mode_group->addButton(button);
    radio_singularly->setChecked(true);

    spin_volumepercent = named(new QLineEdit(QStringLiteral("100")), "spin_volumepercent");
    spin_volumepercent->setMaxLength(4);
    spin_volumepercent->setFixedWidth(52);
    spin_volumepercent->installEventFilter(
        new CharacterFilter(value_corrections::isPercentKey, spin_volumepercent));
    auto arrow = [this](const char* name, Qt::ArrowType type, int delta) {
        auto* button = named(new QToolButton, name);
        button->setArrowType(type);
        button->setFixedSize(16, 11);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRepeat(true);
        connect(button, &QToolButton::clicked, this, [this, delta] {
            spin_volumepercent->setText(
                value_corrections::stepPercent(spin_volumepercent->text(), delta));
        });
        return button;
    };
    spin_volumepercent_up = arrow("spin_volumepercent_up", Qt::UpArrow, +1);
    spin_volumepercent_down = arrow("spin_volumepercent_down", Qt::DownArrow, -1);

    edit_volumegain = named(new QLineEdit(QStringLiteral("0.00")), "edit_volumegain");
    // At most five typed characters; corrections such as "100.00" may be longer.
    edit_volumegain->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("^.{0,5}$")), edit_volumegain));
    edit_volumegain->setFixedWidth(52);
    edit_volumegain->installEventFilter(
        new CharacterFilter(value_corrections::isGainKey, edit_volumegain));

    auto headed = [](QLabel* title, QLabel* link) {
        auto* row = new QHBoxLayout;
        row->setSpacing(12);
        row->addWidget(title);
        if (link)
            row->addWidget(link);
        row->addStretch(1);
        return row;
    };
    auto withField = [](QRadioButton* button, QWidget* field, QWidget* arrows, const QString& unit) {
        auto* row = new QHBoxLayout;
        row->setSpacing(6);
        button->setMinimumWidth(110);  // both fields in one column
        row->addWidget(button);
        row->addWidget(field);
        if (arrows)
            row->addWidget(arrows);
        row->addWidget(new QLabel(unit));
        row->addStretch(1);
        return row;
    };

    auto* left = new QVBoxLayout;
    left->setSpacing(1);
    left->addLayout(headed(heading_rms, Label2));
    left->addSpacing(4);
    left->addWidget(radio_singularly);
    left->addWidget(explanation(loudest));
    left->addWidget(radio_collectively);
    left->addWidget(explanation(QStringLiteral(
        "Normalize all files as whole album, but individual tracks should stay at the same "
        "volume relative to each other")));
    left->addWidget(radio_weighted);
    left->addWidget(explanation(QStringLiteral(
        "Each file will be adjusted to the weighted average volume level of all the tracks")));
    left->addWidget(radio_arithmetic);
    left->addWidget(explanation(QStringLiteral(
        "Each file will be adjusted to the arithmetic average volume level of all the tracks")));
    left->addStretch(1);

    auto* arrows = new QWidget;
    auto* arrowColumn = new QVBoxLayout(arrows);
    arrowColumn->setContentsMargins(0, 0, 0, 0);
    arrowColumn->setSpacing(0);
    arrowColumn->addWidget(spin_volumepercent_up);
    arrowColumn->addWidget(spin_volumepercent_down);

    auto* right = new QVBoxLayout;
    right->setSpacing(1);
    right->addLayout(headed(heading_peak, Label3));
    right->addSpacing(4);
    right->addWidget(radio_peak_trackgain);
    right->addWidget(explanation(loudest));
    right->addSpacing(8);
    right->addLayout(headed(heading_direct, nullptr));
    right->addSpacing(4);
    right->addLayout(withField(radio_changepercent, spin_volumepercent, arrows, QStringLiteral("%")));
    right->addWidget(explanation(QStringLiteral("Each file will be adjusted with the same percentage")));
    right->addLayout(withField(radio_changegain, edit_volumegain, nullptr, QStringLiteral("dB")));
    right->addWidget(explanation(QStringLiteral("Each file will be adjusted with the same decibel")));
    right->addStretch(1);

    auto* columns = new QHBoxLayout(GroupBox1);
    columns->setContentsMargins(14, 8, 14, 6);
    columns->setSpacing(30);
    columns->addLayout(left, 5);  // the longer explanations are on the left
    columns->addLayout(right, 4);

    QWidget::setTabOrder(radio_singularly, radio_arithmetic);
    QWidget::setTabOrder(radio_arithmetic, radio_collectively);
    QWidget::setTabOrder(radio_collectively, radio_weighted);
    QWidget::setTabOrder(radio_weighted, radio_peak_trackgain);
    QWidget::setTabOrder(radio_peak_trackgain, radio_changepercent);
    QWidget::setTabOrder(radio_changepercent, spin_volumepercent);
    QWidget::setTabOrder(spin_volumepercent, radio_changegain);
    QWidget::setTabOrder(radio_changegain, edit_volumegain);
    return GroupBox1;
}

void Tmain::FormCreate()
{
    if (!FFdirectc.FFmpegLoaded()
        && !FFdirectc.LoadFFmpeg(program_folders::libraryFolderA())
        && !FFdirectc.LoadFFmpeg(program_folders::libraryFolderB())) {
        message_boxes::showError(this, QString(), QStringLiteral("load DLL error!"));
        return;
    }
    TabSheet1->setAcceptDrops(true);
    dropTarget_ = true;
    for (const std::string& entry : media_extensions::entriesOf(media_extensions::audio_out_exts))
        cb_audioformat->addItem(QString::fromStdString(entry));
    cb_audioformat->setCurrentIndex(0);
}

void Tmain::resizeEvent(QResizeEvent* event)
{
    // A resize below the minimum is refused whole: neither dimension changes.
    const QSize wanted = event->size();
    if (wanted.width() < kMinimumWidth || wanted.height() < kMinimumHeight) {
        if (size() != acceptedSize_)
            resize(acceptedSize_);
        return;
    }
    acceptedSize_ = wanted;
    QMainWindow::resizeEvent(event);
}

void Tmain::showEvent(QShowEvent* event)
{
    if (QWindow* window = windowHandle())
        window->setMinimumSize(QSize(kMinimumWidth, kMinimumHeight));
    closing_ = false;
    QMainWindow::showEvent(event);
}

void Tmain::closeEvent(QCloseEvent* event)
{
    closing_ = true;
    abandonJob();
    closeModalWindows();
    QMainWindow::closeEvent(event);
}

void Tmain::closeModalWindows()
{
    // Each closed window uncovers the one below it; one that refuses to go ends the loop.
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (modal == this)
            break;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();  // a message box without Cancel would refuse close()
        else
            modal->close();
        if (modal->isVisible())
            break;
    }
}

bool Tmain::showCellToolTip(QEvent* event)
{
    auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = ListView1->indexAt(help->pos());
    if (!index.isValid())
        return false;  // the drop hint
    QString full = index.data(Qt::DisplayRole).toString();
    if (full.isEmpty())
        return false;
    if (const QString note = rowNote(index.row()); !note.isEmpty())
        full += QStringLiteral("\n") + note;
    QToolTip::showText(help->globalPos(), full, ListView1->viewport(),
                       ListView1->visualRect(index));
    return true;
}

bool Tmain::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (watched == spin_volumepercent
            && (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down)) {
            spin_volumepercent->setText(value_corrections::stepPercent(
                spin_volumepercent->text(), key->key() == Qt::Key_Up ? 1 : -1));
            return true;
        }
        // An ignored key travels on to the parents, up to this window; only its first
        // receiver counts: the focus widget, or the window when nothing has the focus. (The
        // focus may have moved meanwhile: the removal gives it to the list.)
        auto* widget = qobject_cast<QWidget*>(watched);
        QWidget* focus = QApplication::focusWidget();
        if (widget && widget->window() == this
            && (widget == focus || (widget == this && !focus)))
            FormKeyDown(key);
        return false;
    }
    case QEvent::FocusOut:
        if (watched == spin_volumepercent)
            spin_volumepercentExit();
        else if (watched == edit_volumegain)
            edit_volumegainExit();
        return false;
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        if (watched == Label2 && Label2->rect().contains(mouse->position().toPoint())) {
            Label2Click();
            return true;
        }
        if (watched == Label3 && Label3->rect().contains(mouse->position().toPoint())) {
            Label3Click();
            return true;
        }
        return false;
    }
    case QEvent::ToolTip:
        return watched == ListView1->viewport() && showCellToolTip(event);
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::DragLeave:
    case QEvent::Drop:
        return dragAppMessage(watched, event);
    default:
        return false;
    }
}

void Tmain::FormKeyDown(QKeyEvent* key)
{
    // Whatever has the focus, and without taking the key from it.
    if (key->key() == Qt::Key_Delete)
        btn_removeClick();
}

void Tmain::Options1Click()
{
    if (options)
        options->exec();
}

void Tmain::LoudnessReport1Click()
{
    if (!reportWindow)
        reportWindow = new ReportWindow(*this);
    reportWindow->show();
    reportWindow->raise();
}

void Tmain::Exit1Click()
{
    close();
}

void Tmain::About1Click()
{
    if (about)
        about->exec();
}

void Tmain::HelpContents1Click()
{
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kHelpAddress)));
}

void Tmain::Label2Click()
{
    if (details_rms)
        details_rms->exec();
}

void Tmain::Label3Click()
{
    if (details_peak)
        details_peak->exec();
}

void Tmain::spin_volumepercentExit()
{
    const QString corrected = value_corrections::correctedPercentText(spin_volumepercent->text());
    if (corrected != spin_volumepercent->text())
        spin_volumepercent->setText(corrected);
}

void Tmain::edit_volumegainExit()
{
    const QString corrected = value_corrections::correctedGainText(edit_volumegain->text());
    if (corrected != edit_volumegain->text())
        edit_volumegain->setText(corrected);
}

int Tmain::volumePercent() const
{
    return value_corrections::percentValue(spin_volumepercent->text());
}
