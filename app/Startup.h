#pragma once

#include <memory>

class StopSignals;
class Tabout;
class Tbatchaudioc;
class Tdetails_peak;
class Tdetails_rms;
class Tdetectpeak;
class Tmain;
class Toptions;
class Trms;

// The start-up sequence: the splash picture first, the application title, every window of
// the program once in its fixed order (the main window first, which loads the FFmpeg
// libraries), the splash gone again, the main window shown. The windows live as long as
// this object. Needs a QApplication.
class Startup {
public:
    Startup();
    ~Startup();
    Startup(const Startup&) = delete;
    Startup& operator=(const Startup&) = delete;

    Tmain& mainWindow() { return *main_; }

    // From now on SIGTERM, SIGINT and SIGHUP close the windows as a person would (a job
    // in progress is cancelled, its children ended), so the program leaves through its
    // event loop instead of dying with a converter still writing. A second such signal
    // ends the program at once. Undone when this object goes.
    void closeOnStopSignals();

private:
    void stopSignalArrived();

    // Declared in creation order; destroyed in reverse, the main window last, since the
    // other windows refer to it.
    std::unique_ptr<Tmain> main_;
    std::unique_ptr<Tabout> about_;
    std::unique_ptr<Tbatchaudioc> batchaudioc_;
    std::unique_ptr<Toptions> options_;
    std::unique_ptr<Trms> rms_;
    std::unique_ptr<Tdetectpeak> detectpeak_;
    std::unique_ptr<Tdetails_rms> details_rms_;
    std::unique_ptr<Tdetails_peak> details_peak_;

    std::unique_ptr<StopSignals> stopSignals_;
};
