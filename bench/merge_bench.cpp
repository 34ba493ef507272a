// merge_bench: the merge of a sharded job over synthetic records, as 50 machines would leave
// them (tracks of 2 to 6 minutes, albums of 12 in a folder each), timed with its peak memory.
//   merge_bench [records, default 100000] [shards, default 50]
#include "BenchResult.h"

#include "records/RecordFiles.h"
#include "records/ScanRecord.h"
#include "records/SetPlan.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <random>
#include <sys/resource.h>

namespace {

constexpr const char* kVersion = "bench";

// A track's record: blocks spread over a loudness range as music has them.
ScanRecord syntheticRecord(int n, std::mt19937& random)
{
    std::normal_distribution<double> level(-16, 4);
    std::uniform_real_distribution<double> minutes(2, 6);
    ScanRecord r;
    char key[64];
    std::snprintf(key, sizeof key, "artist%04d/album%05d/track%07d.flac", n / 600, n / 12, n);
    r.key = key;
    r.root = "/music";
    r.size = 30000000 + n;
    r.mtimeNs = 1700000000000000000LL + n;
    r.version = kVersion;
    r.settings = scan_record::settingsHash();
    r.status = ScanRecord::Status::Measured;
    r.headroom = 1.5e-5;
    Measurement m;
    m.seconds = minutes(random) * 60;
    const double centre = level(random);
    std::normal_distribution<double> block(centre, 3);
    for (int b = 0; b < static_cast<int>(m.seconds * 10) - 3; ++b)
        m.blocks.addBlock(block(random));
    m.integratedLufs = m.blocks.integratedLoudness();
    m.rangeLu = 6;
    m.truePeakDbtp = std::min(0.5, centre + 14);
    m.samplePeakDbfs = m.truePeakDbtp - 0.3;
    r.measurement = m;
    return r;
}

double peakMemoryMiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int records = bench::sizeArgument(argc, argv, 1, 100000);
    const int shards = bench::sizeArgument(argc, argv, 2, 50);
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/records";
    const std::string plan = dir.path().toStdString() + "/plan.jsonl";
    std::filesystem::create_directory(folder);

    // Made shard by shard with few distinct records, so that making them costs little memory.
    std::mt19937 random(22);
    std::vector<ScanRecord> kinds;
    for (int k = 0; k < 64; ++k)
        kinds.push_back(syntheticRecord(k, random));
    std::vector<std::string> texts(static_cast<std::size_t>(shards));
    for (int n = 0; n < records; ++n) {
        ScanRecord r = kinds[static_cast<std::size_t>(n % 64)];
        char key[64];
        std::snprintf(key, sizeof key, "artist%04d/album%05d/track%07d.flac", n / 600, n / 12, n);
        r.key = key;
        std::string& text = texts[static_cast<std::size_t>(scan_record::shardOf(r.key, shards))];
        text += scan_record::line(r);
        if (text.size() > (1 << 22)) {
            record_files::append(record_files::shardFile(folder, scan_record::shardOf(r.key, shards), shards), text);
            text.clear();
        }
    }
    for (int s = 0; s < shards; ++s)
        record_files::append(record_files::shardFile(folder, s, shards), texts[static_cast<std::size_t>(s)]);
    texts.clear();
    const double memoryBefore = peakMemoryMiB();

    set_plan::Settings settings;
    settings.plan.mode = conversion_command::VolumeMode::RmsCollectively;
    settings.outputFolder = dir.path().toStdString() + "/out";
    settings.root = "/music";
    settings.groupByFolder = true;
    settings.version = kVersion;
    const auto start = std::chrono::steady_clock::now();
    const set_plan::Merged merged = set_plan::merge(folder, settings);
    const double mergeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string error = merged.plan ? set_plan::write(*merged.plan, plan) : merged.error;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double memory = peakMemoryMiB();
    if (!merged.plan || !error.empty()) {
        std::fprintf(stderr, "merge failed: %s %s\n", error.c_str(), merged.refused.empty() ? "" : merged.refused[0].c_str());
        return 1;
    }
    std::fprintf(stderr, "merged %d records of %d shards into %zu albums in %.2f s (plan written in %.2f s), peak memory "
                 "%.0f MiB (%.0f MiB before)\n",
                 records, shards, merged.plan->sets.size(), seconds, seconds - mergeSeconds, memory, memoryBefore);
    const bool million = records >= 1000000;
    bench::printResult("merge of " + std::to_string(records) + " records (album by folder, plan written)",
                       bench::timeText(seconds) + ", " + bench::format("%.0f MiB", memory), "-", "-",
                       million ? "< 10 s, < 1024 MiB" : "-",
                       million ? std::optional<bool>(seconds < 10 && memory < 1024) : std::nullopt);
    return 0;
}
