#include "records/ScanRecord.h"

#include "MeasureLine.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

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
    QJsonObject o;
    o.insert(QStringLiteral("key"), QString::fromStdString(r.key));
    o.insert(QStringLiteral("size"), static_cast<qint64>(r.size));
    // Nanoseconds do not fit a double: kept as text.
    o.insert(QStringLiteral("mtime_ns"), QString::number(r.mtimeNs));
    o.insert(QStringLiteral("version"), QString::fromStdString(r.version));
    o.insert(QStringLiteral("settings"), QString::fromStdString(r.settings));
    o.insert(QStringLiteral("status"), QString::fromUtf8(r.status == ScanRecord::Status::Measured ? kMeasured.data() : kFailed.data()));
    o.insert(QStringLiteral("reason"), QString::fromStdString(r.reason));
    o.insert(QStringLiteral("headroom"), r.headroom);
    if (r.measurement)
        o.insert(QStringLiteral("measured"), QString::fromStdString(measure_line::format(*r.measurement)));
    return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString() + "\n";
}

std::optional<ScanRecord> parse(std::string_view text)
{
    if (text.ends_with('\n'))
        text.remove_suffix(1);
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size())), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject o = document.object();
    ScanRecord r;
    const QString status = o.value(QStringLiteral("status")).toString();
    const std::string mtime = o.value(QStringLiteral("mtime_ns")).toString().toStdString();
    const auto [end, bad] = std::from_chars(mtime.data(), mtime.data() + mtime.size(), r.mtimeNs);
    r.key = o.value(QStringLiteral("key")).toString().toStdString();
    r.size = o.value(QStringLiteral("size")).toInteger(-1);
    r.version = o.value(QStringLiteral("version")).toString().toStdString();
    r.settings = o.value(QStringLiteral("settings")).toString().toStdString();
    r.reason = o.value(QStringLiteral("reason")).toString().toStdString();
    r.headroom = o.value(QStringLiteral("headroom")).toDouble(-1);
    const bool measured = status == QLatin1StringView(kMeasured.data());
    r.status = measured ? ScanRecord::Status::Measured : ScanRecord::Status::Failed;
    if (measured)
        r.measurement = measure_line::parse(o.value(QStringLiteral("measured")).toString().toStdString());
    const bool whole = !r.key.empty() && r.size >= 0 && bad == std::errc() && end == mtime.data() + mtime.size()
                       && !mtime.empty() && r.headroom >= 0 && !r.version.empty() && !r.settings.empty()
                       && (measured ? r.measurement.has_value() : status == QLatin1StringView(kFailed.data()));
    return whole ? std::optional<ScanRecord>(std::move(r)) : std::nullopt;
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
