#include "media/TFFLogger.h"

#include "media/TFFEntryPoints.h"

#include <cstdio>
#include <vector>

TFFLogger::TFFLogger() : level_(AV_LOG_INFO) {}

TFFLogger& TFFLogger::Instance()
{
    static TFFLogger logger;
    return logger;
}

void TFFLogger::SetSink(Sink sink)
{
    std::lock_guard lock(mutex_);
    sink_ = std::move(sink);
}

bool TFFLogger::HasSink() const
{
    std::lock_guard lock(mutex_);
    return static_cast<bool>(sink_);
}

void TFFLogger::Log(int level, const std::string& text)
{
    if (level > level_)
        return;
    std::lock_guard lock(mutex_);
    if (sink_)
        sink_(level, text);
}

namespace {

int formatInto(void* avClass, int level, const char* format, va_list arguments, char* buffer,
               std::size_t size, int* printPrefix)
{
    va_list copy;
    va_copy(copy, arguments);
    int length = FF.av_log_format_line2
                     ? FF.av_log_format_line2(avClass, level, format, copy, buffer,
                                              static_cast<int>(size), printPrefix)
                     : std::vsnprintf(buffer, size, format, copy);
    va_end(copy);
    return length;
}

std::string formatLine(void* avClass, int level, const char* format, va_list arguments)
{
    // FFmpeg splits a line over several calls; the prefix belongs only to its first part.
    thread_local int printPrefix = 1;
    const int prefixBefore = printPrefix;
    char buffer[1024];
    int length = formatInto(avClass, level, format, arguments, buffer, sizeof buffer, &printPrefix);
    if (length < 0)
        return {};
    if (static_cast<std::size_t>(length) < sizeof buffer)
        return std::string(buffer, static_cast<std::size_t>(length));
    std::vector<char> large(static_cast<std::size_t>(length) + 1);
    printPrefix = prefixBefore;
    formatInto(avClass, level, format, arguments, large.data(), large.size(), &printPrefix);
    return std::string(large.data());
}

}  // namespace

void TFFLogger::Callback(void* avClass, int level, const char* format, va_list arguments)
{
    TFFLogger& logger = Instance();
    // Formatting costs more than the probe's own work on small files: skip it unheard.
    if (level > logger.level_ || !logger.HasSink())
        return;
    logger.Log(level, formatLine(avClass, level, format, arguments));
}
