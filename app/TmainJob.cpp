// The Adjust Volume job as the main window runs it: the settings taken once from the controls,
// the job's rows and messages shown in the window, its stage dialogs following it.
#include "app/Tmain.h"

#include "analysis/RunLimit.h"
#include "analysis/StallLimit.h"
#include "app/stages/Tdetectpeak.h"
#include "app/stages/Trms.h"
#include "app/MessageBoxes.h"
#include "base/ProgramFolders.h"
#include "app/Toptions.h"
#include "app/stages/Tbatchaudioc.h"
#include "report/ReportExport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <cstdlib>

namespace {

using conversion_command::VolumeMode;

constexpr int kPeakCell = 3;

QString text(const std::string& bytes)
{
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// The caption each kind of failure has always had: "Error" for refused input and folders,
// "Error!" for what a tool printed, none for a file that cannot be opened.
QString captionOf(JobError::Kind kind)
{
    switch (kind) {
    case JobError::Kind::Tool:
    case JobError::Kind::Output:
        return QStringLiteral("Error!");
    case JobError::Kind::Source:
        return QString();
    default:
        return QStringLiteral("Error");
    }
}

}  // namespace

void Tmain::setupJob()
{
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

int Tmain::filesAtOnce() const
{
    if (options)
        return options->spin_filesatonce->value();
    return run_limit::defaultLimit(std::getenv(run_limit::kEnvironmentName),
                                   run_limit::usableCores());
}

JobSettings Tmain::jobSettings() const
{
    JobSettings settings;
    settings.sources.reserve(static_cast<std::size_t>(rowCount()));
    for (int row = 0; row < rowCount(); ++row)
        settings.sources.push_back(rowPath(row));
    settings.mode = volumeMode();
    settings.percent = volumePercent();
    settings.gain = edit_volumegain->text().toStdString();
    settings.formatConverting = cbk_audioformatconverting->isChecked();
    settings.format = cb_audioformat->currentText().toStdString();
    settings.outputFolder = outputFolder_;
    if (options) {
        settings.prefix = QFile::encodeName(options->ed_prefix->text()).toStdString();
        const tool_contracts::NormalizerLevels levels = options->normalizerLevels();
        settings.targetLufs = levels.target.lufs;
        settings.ceilingDbtp = levels.target.ceilingDbtp;
        settings.limiter = levels.limitPeaks;
        settings.groupByFolder = options->groupByFolder();
    }
    settings.writing = writing_;
    settings.filesAtOnce = filesAtOnce();
    settings.converter = program_folders::converterPath();
    settings.normaliser = program_folders::normalizerPath();
    settings.meter = program_folders::meterPath();
    settings.stallSeconds = stall_limit::baseSeconds(std::getenv(stall_limit::kEnvironmentName));
    settings.scratchFolder = program_folders::scratchFolder();
    return settings;
}

void Tmain::BitBtn1Click()
{
    if (jobActive_ || measuring() || !batchaudioc || !detectpeak || !rms)
        return;
    if (rowCount() == 0) {
        message_boxes::showError(this, QStringLiteral("Error"), QStringLiteral("Please add files!"));
        return;
    }
    if (!select_folder(QStringLiteral("Select an output folder for output files"), std::string(),
                       outputFolder_))
        return;

    // The last job has told its end: none of its code is at work any more.
    JobSettings settings = jobSettings();
    if (!settleExisting(settings))
        return;
    const bool leaving = options && options->cbk_leaveunchanged->isChecked();
    const bool planFirst = leaving || writing_ != JobSettings::Writing::AdjustedAudio;
    // Unchecked and unplanned, the report keeps showing what it showed.
    if (checkingOutputs() || planFirst)
        newCheck(settings);
    jobActive_ = true;
    if (!planFirst)
        return startJob(std::move(settings));
    // Which rows are close enough, and their tags, are known only once the list is measured
    // and planned.
    connect(check_.get(), &LoudnessCheck::finished, this, [this, settings, leaving](bool cancelled) mutable {
        check_->disconnect(this);
        if (cancelled) {
            jobActive_ = false;
            emit jobEnded();
            return;
        }
        if (leaving)
            settings.leaveUnchanged = check_->leaveUnchanged(Toptions::kLeaveUnchangedDb);
        settings.loudnessTags = check_->tagLevels();
        // Out of the check's own signal: the job's check connects to it anew.
        QMetaObject::invokeMethod(this, [this, settings] { startJob(settings); }, Qt::QueuedConnection);
    });
    check_->analyse();
}

void Tmain::startJob(JobSettings settings)
{
    job_ = std::make_unique<Job>(settings, FFdirectc.Decoder());
    Job& job = *job_;
    for (StageDialog* dialog : {static_cast<StageDialog*>(detectpeak), static_cast<StageDialog*>(batchaudioc),
                                static_cast<StageDialog*>(rms)})
        dialog->follow(job);
    connect(&job, &Job::rowMeasured, this,
            [this](int row, const std::optional<PeakGain>& gain, const JobError& error) {
                setRowCell(row, kPeakCell, gain ? text(gain->text()) : QString());
                if (!error.message.empty())
                    message_boxes::showError(messageOwner(), captionOf(error.kind), text(error.message));
            });
    connect(&job, &Job::rowEnded, this, &Tmain::showRowEnd);
    connect(&job, &Job::finished, this, &Tmain::jobFinished);
    // After the window's own slots, so that the job's end is known when the check ends with it.
    if (checkingOutputs()) {
        check_->follow(job);
        connect(check_.get(), &LoudnessCheck::rowVerified, this, &Tmain::showVerdict);
    }
    emit jobStarted(&job);
    job.start();
}

bool Tmain::checkingOutputs() const
{
    return !options || options->cbk_checkoutputs->isChecked();
}

bool Tmain::settleExisting(JobSettings& settings)
{
    const std::vector<existing_outputs::Clash> clashes = Job::clashes(settings);
    if (clashes.empty())
        return true;
    constexpr std::size_t kNamed = 5;
    std::vector<QString> names;
    for (std::size_t at = 0; at < clashes.size() && at < kNamed; ++at)
        names.push_back(text(clashes[at].output));
    const std::optional<existing_outputs::Choice> choice =
        message_boxes::askExisting(this, static_cast<int>(clashes.size()), names);
    if (choice)
        settings.existing = *choice;
    return choice.has_value();
}

void Tmain::setWriting(JobSettings::Writing writing)
{
    writing_ = writing;
    const bool tagsOnly = writing == JobSettings::Writing::TagsOnly;
    const QString why = tagsOnly ? QStringLiteral("Loudness tags are written in the Singularly (Track Gain) and "
                                                  "Collectively (Album Gain) modes only (Options)")
                                 : QString();
    for (QRadioButton* mode :
         {radio_weighted, radio_arithmetic, radio_peak_trackgain, radio_changepercent, radio_changegain}) {
        mode->setEnabled(!tagsOnly);
        mode->setToolTip(why);
        if (tagsOnly && mode->isChecked())
            radio_singularly->setChecked(true);
    }
    cbk_audioformatconverting->setEnabled(!tagsOnly);
    cbk_audioformatconverting->setToolTip(tagsOnly ? QStringLiteral("Tagged copies keep their sources' formats")
                                                   : QString());
}

void Tmain::analyseList()
{
    if (jobActive_ || measuring() || rowCount() == 0)
        return;
    newCheck(jobSettings());
    check_->analyse();
}

void Tmain::newCheck(const JobSettings& settings)
{
    knownLevels_->stop();  // the check measures what is left, with every place it has
    check_ = std::make_unique<LoudnessCheck>(settings, FFdirectc.Decoder());
    check_->takeKnown(knownLevels_.get());
    // What it measures is kept for the next check of the same files.
    connect(check_.get(), &LoudnessCheck::rowMeasured, knownLevels_.get(), [this, check = check_.get()](int row) {
        const LoudnessReport::Row& record = check->report().rows.at(static_cast<std::size_t>(row));
        if (record.before)
            knownLevels_->keep(record.file, *record.before);
    });
    emit checkChanged(check_.get());
}

void Tmain::measureWhileIdle()
{
    // Only a window with its libraries, no job and no measuring of its own measures.
    if (jobActive_ || measuring() || !dropTarget_ || rowCount() == 0)
        return;
    knownLevels_->measure(jobSettings().sources);
}

QWidget* Tmain::messageOwner() const
{
    if (!job_ || !job_->stageShown())
        return const_cast<Tmain*>(this);
    switch (job_->stage()) {
    case Job::Stage::PeakMeasurement:
        return detectpeak;
    case Job::Stage::Normalisation:
        return rms;
    default:
        return batchaudioc;
    }
}

void Tmain::showRowEnd(int row, Job::RowEnd end, const JobError& error, const std::string& note)
{
    if (end == Job::RowEnd::Written)
        setRowNote(row, text(note));
    // The user chose to leave such rows: the row says so, no box.
    if (end == Job::RowEnd::Skipped) {
        setRowNote(row, text(error.message));
        return;
    }
    if (!error.message.empty())
        message_boxes::showError(messageOwner(), captionOf(error.kind), text(error.message));
}

void Tmain::jobFinished(Job::Outcome outcome, const JobError& error)
{
    // The check has ended before: the job waits for it as its last stage.
    if (!error.message.empty())
        message_boxes::showError(messageOwner(), captionOf(error.kind), text(error.message));
    else if (outcome == Job::Outcome::Completed)
        message_boxes::showExclamation(this, QString(), QStringLiteral("Process is finished!"));
    jobActive_ = false;
    emit jobEnded();
}

void Tmain::showVerdict(int row)
{
    const LoudnessReport::Row& record = check_->report().rows.at(static_cast<std::size_t>(row));
    if (!record.verdict && record.error.starts_with("not checked")) {
        const QString note = rowNote(row);
        const QString unchecked = QStringLiteral("Not checked: the check was cancelled");
        setRowNote(row, note.isEmpty() ? unchecked : note + QLatin1Char('\n') + unchecked);
        return;
    }
    const std::string redone = report_export::redoSummary(record, check_->report().settings);
    if (!redone.empty()) {
        const QString tip = QStringLiteral("Redone: ") + text(redone);
        const QString note = rowNote(row);
        setRowNote(row, note.isEmpty() ? tip : note + QLatin1Char('\n') + tip);
        return;
    }
    if (!record.verdict || record.verdict->pass)
        return;
    QString miss = QStringLiteral("Missed its promise: ") + text(record.verdict->reason);
    if (!record.redoError.empty())
        miss += QStringLiteral("; not written again: ") + text(record.redoError);
    const QString note = rowNote(row);
    setRowNote(row, note.isEmpty() ? miss : note + QLatin1Char('\n') + miss);
}


void Tmain::abandonJob()
{
    if (job_ && jobActive_)
        job_->cancel();
    if (check_)
        check_->cancel();
}
