#include "app/Startup.h"

#include "app/stages/Tdetails_peak.h"
#include "app/stages/Tdetails_rms.h"
#include "app/stages/Tdetectpeak.h"
#include "app/stages/Trms.h"
#include "app/Tabout.h"
#include "app/ProgramFont.h"
#include "app/Tflash.h"
#include "app/Tmain.h"
#include "app/Toptions.h"
#include "app/stages/Tbatchaudioc.h"
#include "job/StopSignals.h"

#include <QApplication>

Startup::Startup()
{
    // Visible at once, while the rest (the library loading above all) takes its time.
    auto splash = std::make_unique<Tflash>();
    splash->show();
    splash->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

    QCoreApplication::setApplicationName(QStringLiteral("Auralon"));

    main_ = std::make_unique<Tmain>();
    about_ = std::make_unique<Tabout>();
    batchaudioc_ = std::make_unique<Tbatchaudioc>(programFont());
    options_ = std::make_unique<Toptions>();
    rms_ = std::make_unique<Trms>(programFont());
    detectpeak_ = std::make_unique<Tdetectpeak>(programFont());
    details_rms_ = std::make_unique<Tdetails_rms>(programFont());
    details_peak_ = std::make_unique<Tdetails_peak>(programFont());

    main_->about = about_.get();
    main_->batchaudioc = batchaudioc_.get();
    main_->options = options_.get();
    QObject::connect(options_.get(), &Toptions::writingChosen, main_.get(), &Tmain::setWriting);
    main_->rms = rms_.get();
    main_->detectpeak = detectpeak_.get();
    main_->details_rms = details_rms_.get();
    main_->details_peak = details_peak_.get();

    splash.reset();
    main_->show();
}

Startup::~Startup() = default;

void Startup::closeOnStopSignals()
{
    if (stopSignals_)
        return;
    stopSignals_ = std::make_unique<StopSignals>();
    QObject::connect(stopSignals_.get(), &StopSignals::arrived, stopSignals_.get(),
                     [this] { stopSignalArrived(); });
}

void Startup::stopSignalArrived()
{
    // Modal windows (a stage of a job, a message) close first, then the main window; the
    // event loop ends with the last window.
    QApplication::closeAllWindows();
}
