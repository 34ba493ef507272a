#pragma once

#include "conversion/ConversionCommand.h"
#include "job/Job.h"
#include "job/KnownSourceLevels.h"
#include "job/LoudnessCheck.h"
#include "media/TFFEncoder.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

class FileDialogs;
class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class Tabout;
class Tbatchaudioc;
class Tdetails_peak;
class Tdetails_rms;
class Tdetectpeak;
class Toptions;
class Trms;
class ReportWindow;

// The main window: the file list, the volume controls and the FFmpeg component with its probe;
// it starts a job with the controls' settings and shows it.
class Tmain : public QMainWindow {
    Q_OBJECT
public:
    // Creates the window and runs FormCreate (library loading, drop target, format box).
    explicit Tmain(QWidget* parent = nullptr);
    ~Tmain() override;

    // The FFmpeg component: opens the libraries and owns the probe.
    TFFEncoder FFdirectc;

    // The other windows, created after this one by the start-up sequence and owned by it;
    // null while absent (a window test may build the main window alone).
    Tabout* about = nullptr;
    Tbatchaudioc* batchaudioc = nullptr;
    Toptions* options = nullptr;
    Trms* rms = nullptr;
    Tdetectpeak* detectpeak = nullptr;
    ReportWindow* reportWindow = nullptr;  // made when first asked for
    Tdetails_rms* details_rms = nullptr;
    Tdetails_peak* details_peak = nullptr;

    // The file dialogs in use; the real Qt ones unless a test installed its own.
    // setFileDialogs does not take ownership; nullptr returns to the real dialogs.
    void setFileDialogs(FileDialogs* dialogs);
    FileDialogs& fileDialogs();

    // --- Controls (objectName = member name) ---
    QTabWidget* PageControl1;
    QWidget* TabSheet1;  // the page: drop target for the whole list area and panel
    QTreeWidget* ListView1;
    QToolButton* btn_add;
    QToolButton* btn_openfolder;
    QToolButton* btn_remove;
    QToolButton* btn_clear;
    QWidget* Panel1;  // the bottom panel
    QLabel* label_totalfiles;

    QGroupBox* GroupBox1;  // the mode group
    QLabel* heading_rms;
    QLabel* heading_peak;
    QLabel* heading_direct;
    QLabel* Label2;  // "Details..." beside the RMS heading
    QLabel* Label3;  // "Details..." beside the peak heading
    QButtonGroup* mode_group;
    QRadioButton* radio_singularly;
    QRadioButton* radio_collectively;
    QRadioButton* radio_weighted;
    QRadioButton* radio_arithmetic;
    QRadioButton* radio_peak_trackgain;
    QRadioButton* radio_changepercent;
    QRadioButton* radio_changegain;
    QLineEdit* spin_volumepercent;  // whole number 0..1000 with its own spin buttons
    QToolButton* spin_volumepercent_up;
    QToolButton* spin_volumepercent_down;
    QLineEdit* edit_volumegain;
    QCheckBox* cbk_audioformatconverting;
    QComboBox* cb_audioformat;
    QPushButton* BitBtn1;  // "Adjust Volume"

    QMenu* File1;
    QAction* Options1;
    QAction* LoudnessReport1;
    QAction* Exit1;
    QMenu* Help1;
    QAction* HelpContents1;
    QAction* About1;

    // "Add Files from Folder" offers this folder again; raw file-system bytes, ends in "/".
    std::string openfolder_path;

    // How many files a stage works on at once: the Options dialog's "Files at once", else
    // the default (AURALON_MAX_JOBS, else the usable cores).
    int filesAtOnce() const;

    // True from "Adjust Volume" until the job has ended by any path and its end is shown.
    bool jobActive() const { return jobActive_; }
    // The list is being measured (Analyze, or before a job), or the last job judged.
    bool measuring() const { return check_ && !check_->isOver(); }
    // The measurements, plan and verdicts of the last job; null before the first.
    const LoudnessCheck* lastCheck() const { return check_.get(); }
    // The list's sources are measured, or soon will be, while the window is idle.
    bool measuringWhileIdle() const { return idleMeasuring_.isActive() || (knownLevels_ && knownLevels_->busy()); }
    // True once the window has been closed (Exit, the close box, a termination signal):
    // no job starts any more.
    bool closingDown() const { return closing_; }

    // --- The file list ---
    int rowCount() const;
    QString rowCaption(int row) const;
    // The caption as the file-system bytes to open (what the probe and the tools get).
    std::string rowPath(int row) const;
    // Cells 0..3: Size, Time, Format, Peak Analysis.
    QString rowCell(int row, int cell) const;
    void setRowCell(int row, int cell, const QString& text);
    // What the row's last output was written without; shown in the row's tips.
    void setRowNote(int row, const QString& note);
    QString rowNote(int row) const;
    // The percentage field read as a whole number, 0 when it is not one (not clamped).
    int volumePercent() const;

    // Appends a row for path and selects it, which probes it; a refused file's row is gone
    // again when this returns.
    void add_file_b(const QString& path);

    // Adds files named outside the window (the command line, as a file manager passes
    // them) by the rules of a drop. names are raw file-system bytes; a relative one is
    // taken from the current folder, so the row shows the whole path as a drop would.
    void addCommandLineFiles(const std::vector<std::string>& names);

    // The folder chooser. folder (raw file-system bytes) is cleared unless it names an
    // existing folder; the dialog opens there (else at root, else at the desktop). On
    // confirm folder becomes the chosen path (no trailing "/" except for "/") and the
    // result is true; on cancel false.
    bool select_folder(const QString& title, const std::string& root, std::string& folder);

    // The open-file dialog's filters.
    static QString openDialogFilter();

public slots:
    void btn_addClick();
    void btn_openfolderClick();
    void btn_removeClick();
    void btn_clearClick();
    // Probes the selected row (run after every change of the selection).
    void ListView1Change();
    void Options1Click();
    void Exit1Click();
    void About1Click();
    void HelpContents1Click();
    void Label2Click();
    void Label3Click();
    void spin_volumepercentExit();
    void edit_volumegainExit();
    void BitBtn1Click();
    // Shows the Loudness Report window (made on first use).
    void LoudnessReport1Click();
    // Measures the list and plans it with the current mode and settings; nothing while a job
    // or another measuring runs.
    void analyseList();
    // What jobs write from now on (the Options dialog's choice): with loudness tags only, the
    // modes other than track and album gain are not offered.
    void setWriting(JobSettings::Writing writing);

signals:
    // The check whose records the report shows has been replaced (an analysis or a job began).
    void checkChanged(const LoudnessCheck* check);
    // A job has been made and is about to start; it lives until the next one.
    void jobStarted(Job* job);
    void jobEnded();

public:
    // Sees the events of the whole application: the Delete key for this window's widgets
    // (FormKeyDown), drops on the page (dragAppMessage), and the few control events the
    // window handles itself.
    bool eventFilter(QObject* watched, QEvent* event) override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // --- The job (app/TmainJob.cpp) ---
    // Connects "Adjust Volume"; called once by the constructor.
    void setupJob();
    conversion_command::VolumeMode volumeMode() const;
    // The job's settings, from the controls as they stand.
    JobSettings jobSettings() const;
    // Cancels a running job for a quit: its runs are killed and their partial outputs removed.
    void abandonJob();
    // Runs the job over these settings, its outputs judged as its rows end.
    void startJob(JobSettings settings);
    // A new check of the list (check_), with the sources measured so far.
    void newCheck(const JobSettings& settings);
    void measureWhileIdle();
    void showRowEnd(int row, Job::RowEnd end, const JobError& error, const std::string& note);
    void jobFinished(Job::Outcome outcome, const JobError& error);
    // A written row's output judged: a miss joins the row's note.
    void showVerdict(int row);
    // The job's end is shown once its outputs are judged too.
    // Options ask for every output to be measured and judged after writing.
    bool checkingOutputs() const;
    // What to do with files already in the output folder under outputs' names: asked once,
    // only when there are such files; false for Cancel.
    bool settleExisting(JobSettings& settings);
    // A message about the job belongs to the dialog of the stage on show, else to this window.
    QWidget* messageOwner() const;

    void buildMenu();
    void buildPage();
    QWidget* buildButtonStrip();
    QWidget* buildPanel();
    QGroupBox* buildModeGroup();
    void FormCreate();
    // Closes every open modal window, so that none keeps the program alive without its
    // main window.
    void closeModalWindows();
    // The full text of a list cell under the pointer, since long paths are shortened.
    bool showCellToolTip(QEvent* event);

    void FormKeyDown(QKeyEvent* key);
    // Takes drags and drops addressed to the page or its children; true when handled.
    bool dragAppMessage(QObject* receiver, QEvent* event);
    void addDroppedFiles(const std::vector<std::string>& names);
    // Adds a name read from the file system as raw bytes, or refuses it when the bytes
    // are not valid UTF-8 (its text would name another file).
    void addRawName(const std::string& bytes);
    void refuseFileName(const QString& shownName);
    void ListView1SelectionChanged();
    void runPendingProbe();
    void selectRow(QTreeWidgetItem* item);
    void updateTotalFiles();
    void deleteRow(int row);
    QTreeWidgetItem* selectedRow() const;

    std::unique_ptr<FileDialogs> qtDialogs_;
    FileDialogs* dialogs_ = nullptr;
    bool dropTarget_ = false;  // set by FormCreate once the libraries are loaded
    bool closing_ = false;     // the window was closed: long adds stop
    bool probePending_ = false;
    QElapsedTimer lastPump_;  // when add_file_b last let the window handle its events
    QSize acceptedSize_;

    // The output folder chosen last; offered again by the next job. Raw file-system bytes.
    std::string outputFolder_;
    std::unique_ptr<Job> job_;  // the last job, kept until the next one
    std::unique_ptr<LoudnessCheck> check_;  // the judging of the last job's outputs
    // Sources measured while the window is idle, or by a check, for the checks to come.
    std::unique_ptr<KnownSourceLevels> knownLevels_;
    QTimer idleMeasuring_;  // started again at each change of the list
    static constexpr int kIdleMeasuringDelayMs = 1500;
    bool jobActive_ = false;
    JobSettings::Writing writing_ = JobSettings::Writing::AdjustedAudio;
};
