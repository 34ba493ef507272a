#pragma once

#include "Measurement.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What the scan of one file found, as one line of JSON in a records folder:
//   {"key":"a/b.flac","root":"/music","size":123,"mtime_ns":1700000000000000000,"version":"1.4.0",
//    "settings":"9c1e...","status":"measured","reason":"","headroom":1.5e-05,
//    "measured":"measured\tI=-14.2\t...\tblocks=512:3,0,7"}
// The key (the path relative to the scan's root, its size and modification time) tells whether
// the record is still the file's, the root where the file is; the version and the settings hash whether it may be merged
// with others. The measurement is the normaliser's own line, so that it is read back exactly.
struct ScanRecord {
    enum class Status { Measured, Failed };

    std::string key;             // path relative to the root, "/" between folders
    std::string root;            // absolute; empty in records made before they kept it
    std::int64_t size = 0;
    std::int64_t mtimeNs = 0;
    std::string version;         // of the program that scanned
    std::string settings;        // scan_record::settingsHash() of the scan
    Status status = Status::Failed;
    std::string reason;          // why a failed file has no measurement
    double headroom = 0;         // loudness_plan::File::quantisationHeadroom of the source
    std::optional<Measurement> measurement;  // when measured
};

namespace scan_record {

// A hash of what decides a measurement (how the audio is taken, the meter's bins and gates):
// records of another hash measured something else and are not merged.
std::string settingsHash();

// The record as one line, ending in "\n".
std::string line(const ScanRecord& record);

// A line read back (with or without its "\n"); nothing for a truncated or damaged one.
std::optional<ScanRecord> parse(std::string_view line);

// The shard, 0 .. shards - 1, that a key belongs to: the same on every machine.
int shardOf(std::string_view key, int shards);

// "I/N" with 1 <= I <= N: the shard's index from 0; nothing for any other text.
struct Shard {
    int index = 0;
    int count = 1;
};
std::optional<Shard> parseShard(std::string_view text);

}  // namespace scan_record
