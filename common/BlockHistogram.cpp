#include "BlockHistogram.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace {

// Loudness to energy as the meter relates them (BS.1770's -0.691 dB offset of the K filter).
double energyOf(double lufs) { return std::pow(10.0, (lufs + 0.691) / 10.0); }

struct Bins {
    std::array<double, BlockHistogram::kBins + 1> lower;  // energy where each bin begins
    std::array<double, BlockHistogram::kBins> middle;     // the energy a block in it counts as
};

const Bins& bins()
{
    static const Bins table = [] {
        Bins b;
        for (int i = 0; i <= BlockHistogram::kBins; ++i)
            b.lower[i] = energyOf(i / 10.0 - 70.0);
        for (int i = 0; i < BlockHistogram::kBins; ++i)
            b.middle[i] = energyOf(i / 10.0 - 69.95);
        return b;
    }();
    return table;
}

// The bin of an energy at or above the absolute gate; the top bin takes everything louder.
int binOf(double energy)
{
    const auto& lower = bins().lower;
    const auto above = std::upper_bound(lower.begin(), lower.end(), energy);
    return std::min(static_cast<int>(above - lower.begin()) - 1, BlockHistogram::kBins - 1);
}

}  // namespace

void BlockHistogram::add(int bin, std::uint64_t count)
{
    if (counts_.empty()) {
        first_ = bin;
        counts_.assign(1, 0);
    } else if (bin < first_) {
        counts_.insert(counts_.begin(), static_cast<std::size_t>(first_ - bin), 0);
        first_ = bin;
    } else if (bin >= first_ + static_cast<int>(counts_.size())) {
        counts_.resize(static_cast<std::size_t>(bin - first_ + 1), 0);
    }
    counts_[static_cast<std::size_t>(bin - first_)] += count;
}

void BlockHistogram::addBlock(double lufs)
{
    const double energy = energyOf(lufs);
    if (energy >= bins().lower[0])  // also false for NaN
        add(binOf(energy), 1);
}

void BlockHistogram::merge(const BlockHistogram& other)
{
    // Widened once to the other's outer counted bins, then summed bin by bin: a merge of a
    // million files' blocks must not check its bounds per bin.
    std::size_t low = 0;
    std::size_t high = other.counts_.size();
    while (low < high && other.counts_[low] == 0)
        ++low;
    while (high > low && other.counts_[high - 1] == 0)
        --high;
    if (low == high)
        return;
    add(other.first_ + static_cast<int>(low), other.counts_[low]);
    if (high - 1 > low)
        add(other.first_ + static_cast<int>(high - 1), other.counts_[high - 1]);
    const std::size_t shift = static_cast<std::size_t>(other.first_ - first_);
    for (std::size_t i = low + 1; i + 1 < high; ++i)
        counts_[shift + i] += other.counts_[i];
}

std::uint64_t BlockHistogram::blockCount() const
{
    std::uint64_t total = 0;
    for (std::uint64_t count : counts_)
        total += count;
    return total;
}

double BlockHistogram::meanEnergyFrom(int fromBin, std::uint64_t& blocks) const
{
    const Bins& b = bins();
    double energy = 0;
    blocks = 0;
    for (std::size_t i = 0; i < counts_.size(); ++i) {
        const int bin = first_ + static_cast<int>(i);
        if (bin >= fromBin && counts_[i] != 0) {
            energy += static_cast<double>(counts_[i]) * b.middle[static_cast<std::size_t>(bin)];
            blocks += counts_[i];
        }
    }
    return blocks > 0 ? energy / static_cast<double>(blocks) : 0.0;
}

int BlockHistogram::firstBinOver(double gate)
{
    // Bins whose middle lies under the gate are left out whole, as the meter leaves them.
    const Bins& b = bins();
    if (gate < b.lower[0])
        return 0;
    const int start = binOf(gate);
    return gate > b.middle[static_cast<std::size_t>(start)] ? start + 1 : start;
}

int BlockHistogram::binHolding(int fromBin, std::uint64_t index) const
{
    std::uint64_t seen = 0;
    for (std::size_t i = static_cast<std::size_t>(std::max(fromBin - first_, 0)); i < counts_.size(); ++i) {
        seen += counts_[i];
        if (seen > index)
            return first_ + static_cast<int>(i);
    }
    return first_ + static_cast<int>(counts_.size()) - 1;
}

double BlockHistogram::integratedLoudness() const
{
    std::uint64_t blocks = 0;
    const double relativeGate = meanEnergyFrom(0, blocks) * std::pow(10.0, -10.0 / 10.0);
    if (blocks == 0)
        return -HUGE_VAL;
    const double gated = meanEnergyFrom(firstBinOver(relativeGate), blocks);
    if (blocks == 0)
        return -HUGE_VAL;
    return 10.0 * (std::log(gated) / std::log(10.0)) - 0.691;
}

double BlockHistogram::loudnessRange() const
{
    std::uint64_t blocks = 0;
    const double relativeGate = meanEnergyFrom(0, blocks) * std::pow(10.0, -20.0 / 10.0);
    if (blocks == 0)
        return 0;
    const int start = firstBinOver(relativeGate);
    meanEnergyFrom(start, blocks);
    if (blocks == 0)
        return 0;
    // The percentiles of the gated blocks in loudness order, each rounded to the nearest block.
    const auto low = static_cast<std::uint64_t>(static_cast<double>(blocks - 1) * 0.10 + 0.5);
    const auto high = static_cast<std::uint64_t>(static_cast<double>(blocks - 1) * 0.95 + 0.5);
    return (binHolding(start, high) - binHolding(start, low)) / 10.0;
}

std::string BlockHistogram::text() const
{
    if (counts_.empty())
        return "-";
    std::string out = std::to_string(first_) + ":";
    for (std::size_t i = 0; i < counts_.size(); ++i) {
        if (i > 0)
            out += ',';
        out += std::to_string(counts_[i]);
    }
    return out;
}

std::optional<BlockHistogram> BlockHistogram::fromText(std::string_view text)
{
    BlockHistogram h;
    if (text == "-")
        return h;
    const char* at = text.data();
    const char* end = text.data() + text.size();
    auto [afterFirst, error] = std::from_chars(at, end, h.first_);
    if (error != std::errc() || afterFirst == end || *afterFirst != ':' || h.first_ < 0)
        return std::nullopt;
    at = afterFirst;
    h.counts_.reserve(static_cast<std::size_t>(std::count(at, end, ',')) + 1);
    while (at != end) {
        ++at;  // past ':' or ','
        std::uint64_t count = 0;
        auto [next, countError] = std::from_chars(at, end, count);
        if (countError != std::errc() || (next != end && *next != ','))
            return std::nullopt;
        h.counts_.push_back(count);
        at = next;
    }
    // Its own form only: no empty bins at either end, nothing beyond the top bin.
    if (h.counts_.empty() || h.counts_.front() == 0 || h.counts_.back() == 0 ||
        h.first_ + h.counts_.size() > static_cast<std::size_t>(kBins))
        return std::nullopt;
    return h;
}
