#include "job/KnownSourceLevels.h"

#include "analysis/MeasureWorker.h"
#include "analysis/StallLimit.h"
#include "conversion/ProbeFacts.h"
#include "job/SourceProbe.h"

#include <sys/stat.h>

KnownSourceLevels::KnownSourceLevels(std::string meter, TFFDecoder& probe, double stallSeconds, QObject* parent)
    : QObject(parent), meter_(std::move(meter)), probe_(probe), stallSeconds_(stallSeconds)
{
}

KnownSourceLevels::~KnownSourceLevels()
{
    delete worker_;  // kills and waits for its process
}

std::optional<KnownSourceLevels::Identity> KnownSourceLevels::identityOf(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return Identity{static_cast<unsigned long long>(info.st_dev), static_cast<unsigned long long>(info.st_ino),
                    static_cast<long long>(info.st_size),
                    static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec};
}

void KnownSourceLevels::measure(const std::vector<std::string>& paths)
{
    waiting_.clear();
    for (const std::string& path : paths)
        if (!find(path))
            waiting_.push_back(path);
    if (!measuring_)
        next();
}

void KnownSourceLevels::stop()
{
    waiting_.clear();
    if (!measuring_)
        return;
    measuring_ = false;
    worker_->cancel();
    worker_->deleteLater();  // it may be telling its result right now
    worker_ = nullptr;
}

std::optional<Measurement> KnownSourceLevels::find(const std::string& path) const
{
    const auto found = known_.find(path);
    if (found == known_.end() || identityOf(path) != found->second.first)
        return std::nullopt;
    return found->second.second;
}

void KnownSourceLevels::keep(const std::string& path, const Measurement& levels)
{
    if (const std::optional<Identity> identity = identityOf(path))
        known_[path] = {*identity, levels};
}

void KnownSourceLevels::next()
{
    while (!waiting_.empty()) {
        current_ = waiting_.front();
        waiting_.pop_front();
        const std::optional<Identity> identity = identityOf(current_);
        ProbeFacts facts;
        std::string why;
        if (!identity || find(current_) || !source_probe::probe(probe_, current_, facts, why))
            continue;  // a file that cannot be opened is the job's to report
        const std::optional<tool_contracts::MeasureInput> input = MeasureWorker::sourceInput(current_, facts, why);
        if (!input)
            continue;
        if (!worker_) {
            worker_ = new MeasureWorker(meter_, this, tool_launch::Priority::Low);
            connect(worker_, &MeasureWorker::finished, this, &KnownSourceLevels::measured);
        }
        currentIdentity_ = *identity;
        measuring_ = true;
        worker_->measure(*input, stall_limit::limitMs(stallSeconds_, facts.durationUs));
        return;
    }
    // No worker is left waiting in the background.
    measuring_ = false;
    if (worker_) {
        worker_->cancel();
        worker_->deleteLater();  // it may be telling its last result right now
        worker_ = nullptr;
    }
    emit idle();
}

void KnownSourceLevels::measured(const MeasureResult& result)
{
    if (!measuring_)
        return;
    // A file changed while it was measured keeps no figures.
    if (result.measurement && identityOf(current_) == currentIdentity_)
        known_[current_] = {currentIdentity_, *result.measurement};
    next();
}
