#pragma once

#include "media/StreamInfo.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

// The media probe: one file open at a time; every LoadFile closes the previous file.
// Only reads files; never decodes frames.
class TFFDecoder {
public:
    TFFDecoder();
    ~TFFDecoder();
    TFFDecoder(const TFFDecoder&) = delete;
    TFFDecoder& operator=(const TFFDecoder&) = delete;

    // Opens and analyses a path, given as the file system's bytes (UTF-8 as a rule, but any
    // bytes but NUL are passed on unchanged). Throws TFFLoaderError ("Library %s not
    // loaded.") when a library the probe needs is missing, before anything else happens;
    // any other failure returns false with LastErrorMessage() set and no file open.
    bool LoadFile(const std::string& fileName, const std::string& formatName = {});
    void CloseFile();

    void GetFileInfo(TFileStreamInfo& info);
    // A negative index means the first stream of that kind.
    bool GetAudioStreamInfo(TAudioStreamInfo& info) { return GetAudioStreamInfo(-1, info); }
    bool GetAudioStreamInfo(int index, TAudioStreamInfo& info);
    bool GetVideoStreamInfo(TVideoStreamInfo& info) { return GetVideoStreamInfo(-1, info); }
    bool GetVideoStreamInfo(int index, TVideoStreamInfo& info);
    // Any stream by its index; false (facts left default) for an invalid index or no file.
    bool GetStreamFacts(int index, TStreamFacts& facts);

    // All global tags of the open file, keys as the file writes them.
    std::map<std::string, std::string> Tags() const;

    const std::string& LastErrorMessage() const { return lastErrorMessage_; }

    // -1 while no file is open.
    std::int64_t FileSize() const { return fileSize_; }
    std::int32_t StreamCount() const { return streamCount_; }
    std::int32_t ProgramCount() const { return programCount_; }
    std::int32_t AudioStreamCount() const { return audioStreamCount_; }
    std::int32_t VideoStreamCount() const { return videoStreamCount_; }
    std::int32_t SubtitleStreamCount() const { return subtitleStreamCount_; }
    std::int32_t FirstAudioStreamIndex() const { return firstAudioStreamIndex_; }
    std::int32_t FirstVideoStreamIndex() const { return firstVideoStreamIndex_; }
    std::int32_t FirstSubtitleStreamIndex() const { return firstSubtitleStreamIndex_; }

    // Limit for each blocking step of LoadFile (opening, then analysis); 0 or less: none.
    std::int32_t IOTimeout = 30000;  // milliseconds

    // Called after the file is opened and before its streams are analysed.
    std::function<void(TFFDecoder&)> OnBeforeFindStreamInfo;

private:
    struct Impl;

    void Refresh();
    bool Fail(const std::string& message);

    std::unique_ptr<Impl> impl_;

    std::string lastErrorMessage_;
    std::int64_t fileSize_ = -1;
    std::int32_t streamCount_ = -1;
    std::int32_t programCount_ = -1;
    std::int32_t audioStreamCount_ = -1;
    std::int32_t videoStreamCount_ = -1;
    std::int32_t subtitleStreamCount_ = -1;
    std::int32_t firstAudioStreamIndex_ = -1;
    std::int32_t firstVideoStreamIndex_ = -1;
    std::int32_t firstSubtitleStreamIndex_ = -1;
};
