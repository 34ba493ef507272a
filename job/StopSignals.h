#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into the signal arrived(), told from the event loop, so
// that a front end stops its job as a person would (runs killed, partial files removed)
// instead of dying with a converter still writing. A second such signal takes its default
// course: should stopping hang, the program still ends. One instance at a time; the default
// handling is back when it goes.
class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

    // A stop signal has come since this object was made, told or not (for work that runs
    // before the event loop does).
    static bool received();

signals:
    void arrived();

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};
