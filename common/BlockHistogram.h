#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How loud the 400 ms gating blocks of a signal were: a count per 0.1 LU bin from -70 LUFS (the
// absolute gate) to +30 LUFS, the very bins in which the loudness meter gates its own blocks.
// Histograms of several files add up, and gating the sum gives what the meter gives for the
// files measured together: a file's record needs nothing more for an album's loudness.
class BlockHistogram {
public:
    static constexpr int kBins = 1000;

    // Counts a block of this loudness; one under the absolute gate is not counted.
    void addBlock(double lufs);
    void merge(const BlockHistogram& other);

    std::uint64_t blockCount() const;
    bool empty() const { return counts_.empty(); }

    // BS.1770 gating over the counted blocks: those within 10 LU of their mean loudness (in
    // energy), each at the middle of its bin; -infinity when there are none.
    double integratedLoudness() const;
    // The loudness range of counted 3 s blocks, as EBU Tech 3342 defines it: of those within
    // 20 LU of their mean loudness (in energy), the spread from the 10th to the 95th
    // percentile, each block at the middle of its bin; 0 when there are none.
    double loudnessRange() const;

    // "<first bin>:<count>,<count>,...", from the first bin holding a block to the last, or
    // "-" when empty. fromText takes exactly that form (nothing for anything else).
    std::string text() const;
    static std::optional<BlockHistogram> fromText(std::string_view text);

    bool operator==(const BlockHistogram& other) const = default;

private:
    void add(int bin, std::uint64_t count);
    // The mean energy of the blocks in bins from fromBin up, and how many they are.
    double meanEnergyFrom(int fromBin, std::uint64_t& blocks) const;
    // The first bin whose middle is not under a gate of this energy.
    static int firstBinOver(double gate);
    // The bin holding the block at this index (0 the quietest) among those from fromBin up.
    int binHolding(int fromBin, std::uint64_t index) const;

    int first_ = 0;
    std::vector<std::uint64_t> counts_;  // of bins first_, first_ + 1, ...
};
