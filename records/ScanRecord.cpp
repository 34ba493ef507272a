#include "records/ScanRecord.h"

#include "MeasureLine.h"
#include "records/FlatJson.h"


#include <charconv>
#include <cstdio>

namespace scan_record {

namespace {

std::uint64_t fnv1a(std::string_view text)
{
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

constexpr std::string_view kMeasured = "measured";
constexpr std::string_view kFailed = "failed";

}  // namespace

std::string settingsHash()
{
    // Changing how a file is decoded for measuring, or the meter's bins, changes this text.
    const std::string what = "first audio stream as its WAV copy; BS.1770 blocks of 400 ms in "
                             + std::to_string(BlockHistogram::kBins) + " bins of 0.1 LU from -70 LUFS; "
                             + std::string(measure_line::kMarker) + " line";
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(fnv1a(what)));
    return text;
}

std::string line(const ScanRecord& r)
{
    flat_json::Writer w;
    w.text("key", r.key)
        .text("root", r.root)
        .integer("size", r.size)
        .integer("mtime_ns", r.mtimeNs)
        .text("version", r.version)
        .text("settings", r.settings)
        .text("status", r.status == ScanRecord::Status::Measured ? kMeasured : kFailed)
        .text("reason", r.reason)
        .number("headroom", r.headroom);
    if (r.measurement)
        w.text("measured", measure_line::format(*r.measurement));
    return w.line();
}

std::optional<ScanRecord> parse(std::string_view text)
{
    if (text.ends_with('\n'))
        text.remove_suffix(1);
    std::optional<std::vector<flat_json::Field>> fields = flat_json::parse(text);
    if (!fields)
        return std::nullopt;
    // The texts are moved out of the parsed fields: a merge parses a million records.
    auto take = [&fields](std::string_view key) {
        for (flat_json::Field& field : *fields)
            if (field.key == key)
                return field.isString ? std::move(field.text) : std::string();
        return std::string();
    };
    ScanRecord r;
    const std::optional<long long> size = flat_json::integer(*fields, "size");
    const std::optional<long long> mtime = flat_json::integer(*fields, "mtime_ns");
    const std::optional<double> headroom = flat_json::number(*fields, "headroom");
    const flat_json::Field* status = flat_json::find(*fields, "status");
    const bool measured = status && status->isString && status->text == kMeasured;
    const bool failed = status && status->isString && status->text == kFailed;
    r.key = take("key");
    r.root = take("root");
    r.version = take("version");
    r.settings = take("settings");
    r.reason = take("reason");
    r.status = measured ? ScanRecord::Status::Measured : ScanRecord::Status::Failed;
    if (measured)
        r.measurement = measure_line::parse(take("measured"));
    const bool whole = !r.key.empty() && size && *size >= 0 && mtime && headroom && *headroom >= 0
                       && !r.version.empty() && !r.settings.empty()
                       && (measured ? r.measurement.has_value() : failed);
    if (!whole)
        return std::nullopt;
    r.size = *size;
    r.mtimeNs = *mtime;
    r.headroom = *headroom;
    return r;
}

int shardOf(std::string_view key, int shards)
{
    return shards > 1 ? static_cast<int>(fnv1a(key) % static_cast<std::uint64_t>(shards)) : 0;
}

std::optional<Shard> parseShard(std::string_view text)
{
    const std::size_t slash = text.find('/');
    int index = 0;
    int count = 0;
    if (slash == std::string_view::npos)
        return std::nullopt;
    const auto [a, e1] = std::from_chars(text.data(), text.data() + slash, index);
    const auto [b, e2] = std::from_chars(text.data() + slash + 1, text.data() + text.size(), count);
    if (e1 != std::errc() || e2 != std::errc() || a != text.data() + slash || b != text.data() + text.size()
        || slash == 0 || count < 1 || index < 1 || index > count)
        return std::nullopt;
    return Shard{index - 1, count};
}

}  // namespace scan_record
