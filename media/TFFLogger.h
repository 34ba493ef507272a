#pragma once

#include <atomic>
#include <cstdarg>
#include <functional>
#include <mutex>
#include <string>

// The media layer's logger. FFmpeg's own messages are routed here (see Callback) as are the
// layer's warnings and errors. Messages go only to an attached sink; the program attaches
// none, so by default nothing is written or shown.
class TFFLogger {
public:
    using Sink = std::function<void(int level, const std::string& text)>;

    static TFFLogger& Instance();

    // FFmpeg's level numbers (AV_LOG_ERROR, AV_LOG_INFO, ...); messages above it are dropped.
    int Level() const { return level_; }
    void SetLevel(int level) { level_ = level; }

    void SetSink(Sink sink);
    bool HasSink() const;

    void Log(int level, const std::string& text);

    // Installed with av_log_set_callback; FFmpeg may call it from any of its threads.
    static void Callback(void* avClass, int level, const char* format, va_list arguments);

private:
    TFFLogger();

    std::atomic<int> level_;
    mutable std::mutex mutex_;
    Sink sink_;
};
