// The Adjust Volume job of the main window: its start, the preparing method of every stage,
// the main window's stage timers and the end of the job.
#include "app/Tmain.h"

#include "analysis/ClearFolder.h"
#include "analysis/Tdetectpeak.h"
#include "analysis/Trms.h"
#include "app/MessageBoxes.h"
#include "app/ProgramFolders.h"
#include "app/Toptions.h"
#include "conversion/FileIdentity.h"
#include "conversion/OutputFiles.h"
#include "conversion/OutputNames.h"
#include "conversion/ProbeFacts.h"
#include "conversion/Tbatchaudioc.h"
#include "tools/ToolContracts.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>

namespace {

using conversion_command::VolumeMode;

constexpr int kPeakCell = 3;

QString text(const std::string& bytes)
{
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QTimer* stageTimer(QObject* owner, const char* name)
{
    auto* timer = new QTimer(owner);
    timer->setObjectName(QString::fromLatin1(name));
    timer->setInterval(2);
    timer->setSingleShot(true);
    return timer;
}

bool makeFolder(const std::string& folder)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return !ec && std::filesystem::is_directory(folder, ec);
}

// The probe of one source: false with the text to show when it cannot be opened. The probe
// throws when a library it needs is missing; that is a file that cannot be opened too.
bool probeSource(TFFDecoder& probe, const std::string& source, ProbeFacts& facts,
                 std::string& error)
{
    // A FIFO put in a source's place would block the open, and the window with it, until
    // something writes to it; a folder or a device is no media file either.
    struct stat entry {};
    if (::stat(source.c_str(), &entry) == 0 && !S_ISREG(entry.st_mode)) {
        error = source + ": not a plain file";
        return false;
    }
    try {
        if (!probe.LoadFile(source)) {
            error = probe.LastErrorMessage();
            return false;
        }
        facts = probeFactsOf(probe);
        probe.CloseFile();
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

// Why nothing can be written into the output folder (gone since it was chosen, or a file),
// or "" when it is a folder. Checked before every file, so that one missing folder stops the
// job with one message instead of failing every file on its own.
std::string outputFolderProblem(const std::string& folder)
{
    struct stat entry {};
    if (::stat(folder.c_str(), &entry) != 0)
        return "Cannot write into " + folder + ": " + std::strerror(errno);
    if (!S_ISDIR(entry.st_mode))
        return "Cannot write into " + folder + ": " + std::strerror(ENOTDIR);
    return {};
}

// Why the job must not start because of where its files are, or "": everything in the
// scratch folder is deleted at the end of a job, and in the RMS modes the normaliser changes
// every WAV file directly in it.
std::string scratchFolderProblem(const std::string& outputFolder,
                                 const std::vector<std::string>& sources, bool rmsMode)
{
    const std::string scratch = program_folders::scratchFolder();
    if (scratch.empty())
        return {};
    if (file_identity::isSameOrInside(outputFolder, scratch))
        return "Cannot write into " + outputFolder + ": it is the scratch folder " + scratch
               + " or lies inside it, and everything in it is deleted at the end of the job";
    if (rmsMode)
        for (const std::string& source : sources)
            if (file_identity::isSameOrInside(source, scratch))
                return "Cannot normalise " + source + ": it lies in the scratch folder " + scratch
                       + ", where the job's copies are made and changed";
    return {};
}

tool_contracts::NormalizerMode normalizerModeOf(VolumeMode mode)
{
    switch (mode) {
    case VolumeMode::RmsCollectively:
        return tool_contracts::NormalizerMode::Collectively;
    case VolumeMode::RmsWeighted:
        return tool_contracts::NormalizerMode::WeightedAverage;
    case VolumeMode::RmsArithmetic:
        return tool_contracts::NormalizerMode::ArithmeticAverage;
    default:
        return tool_contracts::NormalizerMode::Singularly;
    }
}

// Shows a stage dialog for the first file of its stage; all later files run inside its
// modal loop.
template <typename Dialog>
void showStage(Tmain& main, Dialog* dialog)
{
    if (main.closingDown()) {  // the program is quitting: the job ends where it stands
        main.abandonJob();
        return;
    }
    main.cancel_flag = false;
    dialog->progresstotal->setValue(0);
    dialog->Button1->setEnabled(true);
    dialog->showFileOfCount(main.file_index, main.rowCount());
    dialog->exec();
}

}  // namespace

void Tmain::setupJob()
{
    timer_peak2convert = stageTimer(this, "timer_peak2convert");
    timer_wav2rms = stageTimer(this, "timer_wav2rms");
    timer_rms2convert = stageTimer(this, "timer_rms2convert");
    Timer_endmsg = stageTimer(this, "Timer_endmsg");
    connect(timer_peak2convert, &QTimer::timeout, this, &Tmain::timer_peak2convertTimer);
    connect(timer_wav2rms, &QTimer::timeout, this, &Tmain::timer_wav2rmsTimer);
    connect(timer_rms2convert, &QTimer::timeout, this, &Tmain::timer_rms2convertTimer);
    connect(Timer_endmsg, &QTimer::timeout, this, &Tmain::Timer_endmsgTimer);
    connect(BitBtn1, &QPushButton::clicked, this, &Tmain::BitBtn1Click);
}

VolumeMode Tmain::volumeMode() const
{
    if (radio_singularly->isChecked())
        return VolumeMode::RmsSingularly;
    if (radio_collectively->isChecked())
        return VolumeMode::RmsCollectively;
    if (radio_weighted->isChecked())
        return VolumeMode::RmsWeighted;
    if (radio_arithmetic->isChecked())
        return VolumeMode::RmsArithmetic;
    if (radio_peak_trackgain->isChecked())
        return VolumeMode::PeakTrackGain;
    if (radio_changegain->isChecked())
        return VolumeMode::ChangeGain;
    return VolumeMode::ChangePercent;
}

std::vector<std::string> Tmain::normalizerArgs() const
{
    tool_contracts::NormalizerLevels levels;
    if (options)
        levels = options->normalizerLevels();
    // One ceiling for all copies: if any output is lossy, every copy gets the margin.
    for (const std::string& source : job.sources)
        levels.lossyOutput = levels.lossyOutput ||
                             tool_contracts::isLossyExtension(output_names::outputExtension(
                                 source, cbk_audioformatconverting->isChecked(),
                                 cb_audioformat->currentText().toStdString()));
    return tool_contracts::normalizerArgs(normalizerModeOf(job.mode), levels, job.scratchFolder);
}

void Tmain::BitBtn1Click()
{
    if (job.active || !batchaudioc || !detectpeak || !rms)
        return;
    if (rowCount() == 0) {
        message_boxes::showError(this, QStringLiteral("Error"), QStringLiteral("Please add files!"));
        return;
    }
    if (!select_folder(QStringLiteral("Select an output folder for output files"), std::string(),
                       output_folder))
        return;

    job.mode = volumeMode();
    job.sources.clear();
    for (int row = 0; row < rowCount(); ++row)
        job.sources.push_back(rowPath(row));
    if (const std::string problem = scratchFolderProblem(
            output_folder, job.sources, conversion_command::isRmsMode(job.mode));
        !problem.empty()) {
        message_boxes::showError(this, QStringLiteral("Error"), text(problem));
        return;
    }
    job.usedOutputs.clear();
    job.failedRows.clear();
    job.command.reset();
    job.scratchFolder.clear();

    if (conversion_command::isRmsMode(job.mode)) {
        job.scratchFolder = program_folders::scratchFolder();
        if (job.scratchFolder.empty()) {
            message_boxes::showError(this, QStringLiteral("Error"),
                                     QStringLiteral("Create the tmp folder error!"));
            return;
        }
        if (!job.scratchLock.acquire(job.scratchFolder)) {
            message_boxes::showError(this, QStringLiteral("Error"), text(job.scratchLock.error()));
            return;
        }
        // Copies left by an earlier job that did not finish would be normalised with this
        // job's and skew the album and average modes.
        folder_cleanup::clear_folder(job.scratchFolder, {}, file_identity::existingIds(job.sources));
    }

    job.active = true;
    file_index = 0;
    switch (job.mode) {
    case VolumeMode::ChangePercent:
    case VolumeMode::ChangeGain:
        job_mode = "direct_convert";
        multi_convert();
        break;
    case VolumeMode::PeakTrackGain:
        job_mode = "detect_peak";
        multi_peak();
        break;
    default:
        job_mode = "convert_towav";
        multi_towav();
        break;
    }
}

void Tmain::multi_convert()
{
    const int count = rowCount();
    for (; file_index < count; ++file_index) {
        tool_args.clear();
        job.command.reset();
        if (job.failedRows.count(file_index))
            continue;  // already reported by an earlier stage; nothing to write from it

        if (const std::string problem = outputFolderProblem(output_folder); !problem.empty()) {
            QWidget* owner = batchaudioc->isVisible() ? static_cast<QWidget*>(batchaudioc) : this;
            message_boxes::showError(owner, QStringLiteral("Error"), text(problem));
            batchaudioc->close();
            endJob();
            return;
        }

        const std::string source = rowPath(file_index);
        ProbeFacts facts;
        std::string probeError;
        if (!probeSource(FFdirectc.Decoder(), source, facts, probeError)) {
            QWidget* owner = batchaudioc->isVisible() ? static_cast<QWidget*>(batchaudioc) : this;
            message_boxes::showError(owner, QString(),
                                     QStringLiteral("File load error: ") + text(probeError));
            batchaudioc->close();
            endJob();
            return;
        }
        file_duration = facts.durationUs;

        conversion_command::ConversionRequest request;
        request.mode = job.mode;
        request.sourcePath = source;
        request.fileIndex = file_index;
        request.peakCell = rowCell(file_index, kPeakCell).toStdString();
        request.percent = volumePercent();
        request.gainText = edit_volumegain->text().toStdString();
        request.formatConverting = cbk_audioformatconverting->isChecked();
        request.formatText = cb_audioformat->currentText().toStdString();
        if (options)
            request.prefix = QFile::encodeName(options->ed_prefix->text()).toStdString();
        request.outputFolder = output_folder;
        request.scratchFolder = job.scratchFolder;
        request.probe = facts;
        request.jobSources = job.sources;
        request.usedOutputs = job.usedOutputs;

        conversion_command::ConversionResult built = conversion_command::buildConversion(request);
        if (!built.command) {
            QWidget* owner = batchaudioc->isVisible() ? static_cast<QWidget*>(batchaudioc) : this;
            message_boxes::showError(owner, QStringLiteral("Error"), text(built.refusal));
            continue;
        }
        tool_args = built.command->args;
        output_file = built.command->outputFile;
        job.usedOutputs.push_back(output_file);
        job.command = std::move(built.command);

        batchaudioc->setWindowTitle(rowCaption(file_index));
        batchaudioc->timer_doconvert->start();
        if (!batchaudioc->isVisible())
            showStage(*this, batchaudioc);
        return;
    }
    // Every remaining row, the last one with them, was refused or had failed before: the job
    // ends as it does after a failed last file, without "Process is finished!".
    batchaudioc->close();
    endJob();
}

void Tmain::multi_peak()
{
    peak_text.clear();
    tool_args = tool_contracts::peakMeasurementArgs(rowPath(file_index));
    detectpeak->setWindowTitle(rowCaption(file_index));
    detectpeak->timer_dodetect->start();
    if (file_index == 0)
        showStage(*this, detectpeak);
}

void Tmain::multi_towav()
{
    QWidget* owner = batchaudioc->isVisible() ? static_cast<QWidget*>(batchaudioc) : this;
    auto fail = [&](const QString& caption, const QString& message) {
        message_boxes::showError(owner, caption, message);
        batchaudioc->close();
        endJob();
    };
    if (!makeFolder(output_folder))
        return fail(QStringLiteral("Error"), QStringLiteral("Create the target folder error!"));
    if (!makeFolder(job.scratchFolder))
        return fail(QStringLiteral("Error"), QStringLiteral("Create the tmp folder error!"));

    const std::string source = rowPath(file_index);
    ProbeFacts facts;
    std::string probeError;
    if (!probeSource(FFdirectc.Decoder(), source, facts, probeError))
        return fail(QString(), QStringLiteral("File load error: ") + text(probeError));
    file_duration = facts.durationUs;

    tmp_wav = conversion_command::wavCopyPath(job.scratchFolder, file_index);
    tool_args = conversion_command::wavExtractionArgs(source, tmp_wav, facts);

    batchaudioc->setWindowTitle(rowCaption(file_index));
    batchaudioc->timer_doconvert->start();
    if (file_index == 0) {
        batchaudioc->Label1->setText(QStringLiteral("Prepare Audio Data......"));
        showStage(*this, batchaudioc);
    }
}

void Tmain::abandonJob()
{
    if (!job.active)
        return;
    cancel_flag = true;
    for (QTimer* timer : {timer_peak2convert, timer_wav2rms, timer_rms2convert, Timer_endmsg,
                          batchaudioc->timer_doconvert, detectpeak->timer_dodetect, rms->timer_dorms})
        timer->stop();
    for (const StageDialog* stage : {static_cast<StageDialog*>(batchaudioc),
                                     static_cast<StageDialog*>(detectpeak), static_cast<StageDialog*>(rms)})
        if (stage->toolRunning())
            return;
    // Between two runs nothing is half written; the planned output is let go.
    if (job.command)
        output_files::discardOutput(*job.command);
    endJob();
}

void Tmain::timer_peak2convertTimer()
{
    timer_peak2convert->stop();
    if (closingDown())
        return abandonJob();
    file_index = 0;
    job_mode = "direct_convert";
    multi_convert();
}

void Tmain::timer_wav2rmsTimer()
{
    timer_wav2rms->stop();
    if (closingDown())
        return abandonJob();
    job_mode = "rms";
    cancel_flag = false;
    rms->progresstotal->setValue(0);
    rms->Button1->setEnabled(true);
    rms->timer_dorms->start();
    rms->exec();
}

void Tmain::timer_rms2convertTimer()
{
    timer_rms2convert->stop();
    if (closingDown())
        return abandonJob();
    file_index = 0;
    job_mode = "direct_convert";
    multi_convert();
}

void Tmain::Timer_endmsgTimer()
{
    Timer_endmsg->stop();
    if (closingDown())
        return abandonJob();
    message_boxes::showExclamation(this, QString(), QStringLiteral("Process is finished!"));
    // Another instance's RMS job may be using the scratch folder: then its copies stay.
    const std::string scratch =
        job.scratchFolder.empty() ? program_folders::scratchFolder() : job.scratchFolder;
    if (!scratch.empty() && job.scratchLock.acquire(scratch)) {
        std::vector<std::string> kept = job.sources;
        kept.insert(kept.end(), job.usedOutputs.begin(), job.usedOutputs.end());
        folder_cleanup::clear_folder(scratch, [] { QCoreApplication::processEvents(); },
                                     file_identity::existingIds(kept));
    }
    endJob();
}

void Tmain::endJob()
{
    job.scratchLock.release();
    job.command.reset();
    const bool wasActive = job.active;
    job.active = false;
    if (wasActive)
        emit jobEnded();
}
