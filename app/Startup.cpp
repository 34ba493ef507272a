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

#include <QApplication>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array<int, 3> kStopSignals{SIGTERM, SIGINT, SIGHUP};

// A signal handler may only write to a descriptor: it tells the event loop through this
// pipe, whose read end a socket notifier watches.
int stopPipe[2] = {-1, -1};

extern "C" void onStopSignal(int)
{
    const int savedErrno = errno;  // the interrupted code may be about to read it
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(stopPipe[1], &byte, 1);
    errno = savedErrno;
}

}  // namespace

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
    main_->rms = rms_.get();
    main_->detectpeak = detectpeak_.get();
    main_->details_rms = details_rms_.get();
    main_->details_peak = details_peak_.get();

    splash.reset();
    main_->show();
}

Startup::~Startup()
{
    if (!stopNotifier_)
        return;
    for (int signalNumber : kStopSignals)
        std::signal(signalNumber, SIG_DFL);
    stopNotifier_.reset();
    ::close(stopPipe[0]);
    ::close(stopPipe[1]);
    stopPipe[0] = stopPipe[1] = -1;
}

void Startup::closeOnStopSignals()
{
    if (stopNotifier_ || ::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    stopNotifier_ = std::make_unique<QSocketNotifier>(stopPipe[0], QSocketNotifier::Read);
    QObject::connect(stopNotifier_.get(), &QSocketNotifier::activated, stopNotifier_.get(),
                     [this] { stopSignalArrived(); });
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // SA_RESETHAND: should closing hang, the next signal takes its default course.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int signalNumber : kStopSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

void Startup::stopSignalArrived()
{
    char bytes[16];
    while (::read(stopPipe[0], bytes, sizeof bytes) > 0) {
    }
    // Modal windows (a stage of a job, a message) close first, then the main window; the
    // event loop ends with the last window.
    QApplication::closeAllWindows();
}
