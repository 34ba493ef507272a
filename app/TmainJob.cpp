// The Adjust Volume job of the main window: its start, the preparing method of every stage,
// the main window's stage timers and the end of the job.
#include "app/Tmain.h"

#include "analysis/ClearFolder.h"
#include "analysis/RunLimit.h"
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
#include <QSpinBox>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
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

// Shows a stage dialog; every row of the stage runs inside its modal loop.
void showStage(Tmain& main, StageDialog* dialog)
{
    if (main.closingDown()) {  // the program is quitting: the job ends where it stands
        main.abandonJob();
        return;
    }
    main.cancel_flag = false;
    dialog->progresstotal->setValue(0);
    dialog->Button1->setEnabled(true);
    dialog->showFileOfCount(main.job.doneCount(), main.rowCount());
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
    for (const std::string& source : job.sources())
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
    std::vector<std::string> sources;
    sources.reserve(static_cast<std::size_t>(rowCount()));
    for (int row = 0; row < rowCount(); ++row)
        sources.push_back(rowPath(row));
    if (const std::string problem = scratchFolderProblem(
            output_folder, sources, conversion_command::isRmsMode(job.mode));
        !problem.empty()) {
        message_boxes::showError(this, QStringLiteral("Error"), text(problem));
        return;
    }
    job.begin(std::move(sources));
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
        folder_cleanup::clear_folder(job.scratchFolder, {}, job.sourceNames().ids);
    }

    job.active = true;
    file_index = 0;
    switch (job.mode) {
    case VolumeMode::ChangePercent:
    case VolumeMode::ChangeGain:
        startStage(JobMode::direct_convert);
        break;
    case VolumeMode::PeakTrackGain:
        startStage(JobMode::detect_peak);
        break;
    default:
        startStage(JobMode::convert_towav);
        break;
    }
}

int Tmain::filesAtOnce() const
{
    if (options)
        return options->spin_filesatonce->value();
    return run_limit::defaultLimit(std::getenv(run_limit::kEnvironmentName),
                                   run_limit::usableCores());
}

void Tmain::startStage(JobMode mode)
{
    job_mode = mode;
    file_index = 0;
    job.beginStage(filesAtOnce());
    const std::optional<int> first = job.firstWaitingRow();
    if (!first) {
        // Every row failed an earlier stage: the job ends as after a failed last file, without
        // "Process is finished!".
        endJob();
        return;
    }
    StageDialog* dialog = mode == JobMode::detect_peak ? static_cast<StageDialog*>(detectpeak)
                                                       : static_cast<StageDialog*>(batchaudioc);
    dialog->setWindowTitle(rowCaption(*first));
    if (mode == JobMode::detect_peak) {
        detectpeak->timer_dodetect->start();
    } else {
        if (mode == JobMode::convert_towav)
            batchaudioc->Label1->setText(QStringLiteral("Prepare Audio Data......"));
        batchaudioc->timer_doconvert->start();
    }
    showStage(*this, dialog);
}

conversion_command::ConversionRequest Tmain::conversionRequest(int row) const
{
    const JobRow& record = job.row(row);
    conversion_command::ConversionRequest request;
    request.mode = job.mode;
    request.sourcePath = rowPath(row);
    request.fileIndex = row;
    request.peakCell = rowCell(row, kPeakCell).toStdString();
    request.percent = volumePercent();
    request.gainText = edit_volumegain->text().toStdString();
    request.formatConverting = cbk_audioformatconverting->isChecked();
    request.formatText = cb_audioformat->currentText().toStdString();
    if (options)
        request.prefix = QFile::encodeName(options->ed_prefix->text()).toStdString();
    request.outputFolder = output_folder;
    request.scratchFolder = job.scratchFolder;
    request.probe = record.facts;
    request.guarded = &job.takenNames();
    request.downmixGains = record.downmixGains;
    return request;
}

bool Tmain::multi_convert(int row)
{
    tool_args.clear();
    JobRow& record = job.row(row);
    record.command.reset();
    // After its own measurement run the row is converted under the name it was given then.
    const bool measured = record.measuredFirst;
    record.measuredFirst = false;

    if (!measured) {
        if (const std::string problem = outputFolderProblem(output_folder); !problem.empty()) {
            job.finishRow(row, RowState::Failed, "Error", problem, true);
            return false;
        }
        std::string probeError;
        if (!probeSource(FFdirectc.Decoder(), rowPath(row), record.facts, probeError)) {
            job.finishRow(row, RowState::Failed, "", "File load error: " + probeError, true);
            return false;
        }
    }

    conversion_command::ConversionRequest request = conversionRequest(row);
    if (measured)
        request.outputFile = record.output;

    // Rows are prepared in row order, so names follow the list whichever run ends first.
    conversion_command::ConversionResult built = conversion_command::buildConversion(request);
    if (built.command && !built.command->measurement.empty() && measured)
        built = {std::nullopt, "Cannot convert " + built.command->sourceFile +
                                   ": the loudness of its downmix could not be measured"};
    if (!built.command) {
        // A refused last row ends the job as a failed last file does: no "Process is finished!".
        const bool last = row >= job.rowCount() - 1;
        job.finishRow(row, RowState::Refused, "Error", built.refusal, last, last);
        return false;
    }
    if (!measured) {
        record.output = built.command->outputFile;
        job.planOutput(record.output);
    }
    if (!built.command->measurement.empty()) {
        // The format mixes a stream down: its loudness is measured first (see Tbatchaudioc).
        tool_args = built.command->measurement;
        return true;
    }
    tool_args = built.command->args;
    record.command = std::move(built.command);
    return true;
}

void Tmain::multi_peak(int row)
{
    JobRow& record = job.row(row);
    record.gain.clear();
    tool_args = tool_contracts::peakMeasurementArgs(rowPath(row));
    // Streams the format mixes down are measured in the same run, before and after the downmix.
    std::string probeError;
    if (probeSource(FFdirectc.Decoder(), rowPath(row), record.facts, probeError)) {
        const std::vector<std::string> measure = conversion_command::downmixMeasurement(conversionRequest(row));
        tool_args.insert(tool_args.end(), measure.begin(), measure.end());
    }
}

bool Tmain::multi_towav(int row)
{
    auto fail = [&](const std::string& caption, const std::string& message) {
        job.finishRow(row, RowState::Failed, caption, message, true);
        return false;
    };
    if (!makeFolder(output_folder))
        return fail("Error", "Create the target folder error!");
    if (!makeFolder(job.scratchFolder))
        return fail("Error", "Create the tmp folder error!");

    const std::string source = rowPath(row);
    JobRow& record = job.row(row);
    std::string probeError;
    if (!probeSource(FFdirectc.Decoder(), source, record.facts, probeError))
        return fail("", "File load error: " + probeError);

    record.output = conversion_command::wavCopyPath(job.scratchFolder, row);
    tool_args = conversion_command::wavExtractionArgs(source, record.output, record.facts);
    // The copy keeps the source's channels: streams the format mixes down are measured in the
    // same run, before and after the downmix.
    const std::vector<std::string> measure = conversion_command::downmixMeasurement(conversionRequest(row));
    tool_args.insert(tool_args.end(), measure.begin(), measure.end());
    return true;
}

void Tmain::abandonJob()
{
    if (!job.active)
        return;
    cancel_flag = true;
    for (QTimer* timer : {timer_peak2convert, timer_wav2rms, timer_rms2convert, Timer_endmsg,
                          batchaudioc->timer_doconvert, detectpeak->timer_dodetect, rms->timer_dorms})
        timer->stop();
    batchaudioc->cancelRuns();
    detectpeak->cancelRuns();
    if (rms->toolRunning())
        return;
    endJob();
}

void Tmain::timer_peak2convertTimer()
{
    timer_peak2convert->stop();
    if (closingDown())
        return abandonJob();
    startStage(JobMode::direct_convert);
}

void Tmain::timer_wav2rmsTimer()
{
    timer_wav2rms->stop();
    if (closingDown())
        return abandonJob();
    job_mode = JobMode::rms;
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
    startStage(JobMode::direct_convert);
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
        std::vector<std::string> kept = job.sources();
        kept.insert(kept.end(), job.plannedOutputs().begin(), job.plannedOutputs().end());
        folder_cleanup::clear_folder(scratch, [] { QCoreApplication::processEvents(); },
                                     file_identity::existingIds(kept));
    }
    endJob();
}

void Tmain::endJob()
{
    job.scratchLock.release();
    const bool wasActive = job.active;
    job.active = false;
    if (wasActive)
        emit jobEnded();
}
