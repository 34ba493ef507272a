// The file list of the main window: adding, probing, removing, drops and the folder scan.
#include "app/Tmain.h"

#include "app/FileDialogs.h"
#include "base/ListTexts.h"
#include "base/MediaExtensions.h"
#include "app/MessageBoxes.h"
#include "job/ListAdmission.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QMimeData>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QTreeWidget>
#include <QUrl>

#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

namespace {

constexpr int kCellColumns = 4;  // cells 0..3 are columns 1..4
constexpr int kRowNoteRole = Qt::UserRole + 1;
constexpr qint64 kPumpIntervalMs = 15;

std::string toBytes(const QString& name)
{
    return QFile::encodeName(name).toStdString();
}

QString shown(std::string_view bytes)
{
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// The name as Qt text, or nothing when the bytes are not valid UTF-8: Qt would put
// U+FFFD in their place, and that text names another file.
std::optional<QString> faithfulText(const std::string& bytes)
{
    if (!list_admission::isTextName(bytes))
        return std::nullopt;
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

// A name handed over by a dialog as text: it must stand for the file the user saw. A
// U+FFFD there may be a byte the dialog could not show, so such names are refused.
bool faithfulDialogName(const QString& name)
{
    return !name.contains(QChar(QChar::ReplacementCharacter))
           && QFile::decodeName(QFile::encodeName(name)) == name;
}

// The path of a local-file URL as the file system's bytes (QUrl::toLocalFile would turn
// bytes that are not UTF-8 into U+FFFD).
std::string localFileBytes(const QUrl& url)
{
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

bool isFolder(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(path, ec);
}

}  // namespace

int Tmain::rowCount() const
{
    return ListView1->topLevelItemCount();
}

QString Tmain::rowCaption(int row) const
{
    const QTreeWidgetItem* item = ListView1->topLevelItem(row);
    return item ? item->text(0) : QString();
}

std::string Tmain::rowPath(int row) const
{
    return toBytes(rowCaption(row));
}

QString Tmain::rowCell(int row, int cell) const
{
    const QTreeWidgetItem* item = ListView1->topLevelItem(row);
    return item && cell >= 0 && cell < kCellColumns ? item->text(cell + 1) : QString();
}

void Tmain::setRowCell(int row, int cell, const QString& text)
{
    if (QTreeWidgetItem* item = ListView1->topLevelItem(row); item && cell >= 0 && cell < kCellColumns)
        item->setText(cell + 1, text);
}

void Tmain::setRowNote(int row, const QString& note)
{
    // Every converted row comes here: an unchanged note must not repaint the list.
    if (QTreeWidgetItem* item = ListView1->topLevelItem(row);
        item && item->data(0, kRowNoteRole).toString() != note)
        item->setData(0, kRowNoteRole, note);
}

QString Tmain::rowNote(int row) const
{
    const QTreeWidgetItem* item = ListView1->topLevelItem(row);
    return item ? item->data(0, kRowNoteRole).toString() : QString();
}

QTreeWidgetItem* Tmain::selectedRow() const
{
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

void Tmain::deleteRow(int row)
{
    // Unselected first: the view would otherwise move the selection to a neighbour, which
    // would probe it.
    ListView1->selectionModel()->clear();
    delete ListView1->takeTopLevelItem(row);
}

void Tmain::updateTotalFiles()
{
    label_totalfiles->setText(QString::number(rowCount()) + QStringLiteral(" Files"));
    // The list has changed: its sources are measured once the user has left it for a while
    // (choosing a mode and a folder), so that a job finds them measured.
    idleMeasuring_.start(kIdleMeasuringDelayMs);
}

void Tmain::add_file_b(const QString& path)
{
    // Keeps the window painting, and its buttons working, while many files come in. A
    // pump after every file would spend most of the time repainting the list, so it is
    // done once per few milliseconds: the wait for the user stays below a frame or two.
    if (!lastPump_.isValid() || lastPump_.elapsed() >= kPumpIntervalMs) {
        QCoreApplication::processEvents();
        lastPump_.start();
    }
    if (closing_)
        return;
    auto* item = new QTreeWidgetItem(QStringList{path, QString(), QString(), QString(), QString()});
    ListView1->addTopLevelItem(item);
    selectRow(item);  // which probes it
}

void Tmain::refuseFileName(const QString& shownName)
{
    message_boxes::showError(this, QString(), shown(list_admission::kLoadError) + shownName);
}

void Tmain::addRawName(const std::string& bytes)
{
    if (std::optional<QString> text = faithfulText(bytes))
        add_file_b(*text);
    else
        refuseFileName(QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

void Tmain::ListView1SelectionChanged()
{
    // The probe may show a message and delete the row, which must not happen inside the
    // view's own selection handling: it runs once that is over.
    if (probePending_)
        return;
    probePending_ = true;
    QMetaObject::invokeMethod(this, &Tmain::runPendingProbe, Qt::QueuedConnection);
}

void Tmain::runPendingProbe()
{
    if (!probePending_)
        return;
    probePending_ = false;
    ListView1Change();
}

void Tmain::selectRow(QTreeWidgetItem* item)
{
    ListView1->setCurrentItem(item);
    runPendingProbe();  // the probe of a selection made here is done when this returns
}

void Tmain::ListView1Change()
{
    QTreeWidgetItem* item = selectedRow();
    if (!item)
        return;
    // The row that was probed is the one refused, even if the selection moves while a
    // message is open.
    const QPersistentModelIndex probed(ListView1->indexFromItem(item));
    const list_admission::Admission admission = list_admission::admit(FFdirectc.Decoder(), toBytes(item->text(0)));
    if (!admission.refusal.empty())
        message_boxes::showError(this, QString(), shown(admission.refusal));
    if (!probed.isValid())
        return;
    if (!admission.admitted) {
        deleteRow(probed.row());
        return;
    }
    const bool timed = admission.durationUs > 0;
    QTreeWidgetItem* row = ListView1->topLevelItem(probed.row());
    row->setText(1, list_texts::sizeText(admission.sizeBytes, QLocale::system()));
    row->setText(2, timed ? list_texts::duration_text(admission.durationUs) : QStringLiteral("N/A"));
    row->setText(3, timed ? shown(admission.codec) : QStringLiteral("N/A"));
    updateTotalFiles();
}

void Tmain::btn_addClick()
{
    const QStringList names = fileDialogs().openFiles(this, openDialogFilter());
    for (const QString& name : names) {
        if (closing_)
            break;
        if (faithfulDialogName(name))
            add_file_b(name);
        else
            refuseFileName(name);
    }
}

QString Tmain::openDialogFilter()
{
    auto patterns = [](std::string_view list) {
        QStringList entries;
        for (const std::string& entry : media_extensions::entriesOf(list))
            entries << QString::fromStdString(entry);
        return entries.join(QLatin1Char(' '));
    };
    const QString video = patterns(media_extensions::video_exts);
    const QString audio = patterns(media_extensions::audio_exts);
    return QStringLiteral("Video and Audio Files (") + video + QLatin1Char(' ') + audio
           + QStringLiteral(");;Video Files (") + video
           + QStringLiteral(");;Audio Files (") + audio + QLatin1Char(')');
}

bool Tmain::select_folder(const QString& title, const std::string& root, std::string& folder)
{
    if (!isFolder(folder))
        folder.clear();
    const std::string& start = folder.empty() ? root : folder;
    const std::optional<QString> chosen =
        fileDialogs().chooseFolder(this, title, QFile::decodeName(QByteArray::fromStdString(start)));
    if (!chosen || chosen->isEmpty())
        return false;
    std::string path = toBytes(*chosen);
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    folder = path;
    return true;
}

void Tmain::btn_openfolderClick()
{
    if (!select_folder(QString(), std::string(), openfolder_path))
        return;
    // The name stays as chosen: on this system blanks at either end belong to a folder's
    // name, and trimming them could scan another folder.
    if (openfolder_path.empty() || openfolder_path.back() != '/')
        openfolder_path += '/';
    if (!isFolder(openfolder_path))
        return;

    for (const std::string& path : list_admission::folderFiles(openfolder_path)) {
        if (closing_)
            break;
        addRawName(path);
    }
}

void Tmain::btn_removeClick()
{
    QTreeWidgetItem* item = selectedRow();
    if (!item)
        return;
    const int position = ListView1->indexOfTopLevelItem(item);
    deleteRow(position);
    if (position < rowCount())
        selectRow(ListView1->topLevelItem(position));
    else if (rowCount() > 0)
        selectRow(ListView1->topLevelItem(rowCount() - 1));
    ListView1->setFocus();
    updateTotalFiles();
}

void Tmain::btn_clearClick()
{
    ListView1->clear();
    updateTotalFiles();
}

bool Tmain::dragAppMessage(QObject* receiver, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(receiver);
    if (!dropTarget_ || !widget || (widget != TabSheet1 && !TabSheet1->isAncestorOf(widget)))
        return false;
    if (event->type() == QEvent::DragLeave)
        return true;
    auto* drop = static_cast<QDropEvent*>(event);
    const QMimeData* data = drop->mimeData();
    if (!data || !data->hasUrls()) {
        drop->ignore();
        return true;
    }
    drop->acceptProposedAction();
    if (event->type() != QEvent::Drop)
        return true;

    std::vector<std::string> names;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile() && (url.host().isEmpty() || url.host() == QLatin1String("localhost")))
            names.push_back(localFileBytes(url));
    // Added once the drop is over, so the dragging program is not kept waiting by the
    // probes and their messages.
    QPointer<Tmain> self(this);
    QMetaObject::invokeMethod(
        this, [self, names] { if (self) self->addDroppedFiles(names); }, Qt::QueuedConnection);
    return true;
}

void Tmain::addDroppedFiles(const std::vector<std::string>& names)
{
    for (const std::string& name : names) {
        if (closing_)
            break;
        if (list_admission::hasMediaExtension(name))
            addRawName(name);
    }
}

void Tmain::addCommandLineFiles(const std::vector<std::string>& names)
{
    std::vector<std::string> paths;
    for (const std::string& name : names) {
        std::error_code ec;
        const std::filesystem::path whole =
            name.empty() ? std::filesystem::path() : std::filesystem::absolute(name, ec);
        paths.push_back(ec ? name : whole.native());
    }
    addDroppedFiles(paths);
}
