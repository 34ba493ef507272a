#pragma once

#include "Measurement.h"

#include <QObject>

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

class MeasureWorker;
struct MeasureResult;
class TFFDecoder;

// The loudness of sources measured once and kept for as long as each file stays the same (its
// device, inode, size and modification time), so that a check or a plan finds them done. A
// front end asks for a list's files to be measured while it is idle: one file at a time, by one
// measuring worker at low priority, each source as a check measures it. Figures measured
// elsewhere (a job's check) are kept too. Everything happens on the thread it lives on.
class KnownSourceLevels : public QObject {
    Q_OBJECT
public:
    KnownSourceLevels(std::string meter, TFFDecoder& probe, double stallSeconds, QObject* parent = nullptr);
    ~KnownSourceLevels() override;

    // Measures those of `paths` not known yet, in turn; what was waiting before is dropped.
    void measure(const std::vector<std::string>& paths);
    // Stops measuring: the measuring going is killed, nothing waits any more.
    void stop();
    // The figures of a file measured as it is now, if any.
    std::optional<Measurement> find(const std::string& path) const;
    // Keeps figures measured elsewhere, for the file as it is now.
    void keep(const std::string& path, const Measurement& levels);
    bool busy() const { return measuring_; }

signals:
    // Nothing is being measured or waits any more.
    void idle();

private:
    struct Identity {
        unsigned long long device = 0, inode = 0;
        long long size = 0, modifiedNs = 0;
        bool operator==(const Identity&) const = default;
    };
    static std::optional<Identity> identityOf(const std::string& path);
    void next();
    void measured(const MeasureResult& result);

    std::string meter_;
    TFFDecoder& probe_;
    double stallSeconds_;
    MeasureWorker* worker_ = nullptr;
    std::map<std::string, std::pair<Identity, Measurement>> known_;
    std::deque<std::string> waiting_;
    std::string current_;          // the file being measured
    Identity currentIdentity_;     // as it was when its measuring began
    bool measuring_ = false;
};
