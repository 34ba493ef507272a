#include "job/ListAdmission.h"

#include "base/MediaExtensions.h"
#include "media/TFFDecoder.h"

#include <QByteArray>
#include <QFile>

#include <exception>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>

namespace list_admission {
namespace {

bool isFolder(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(path, ec);
}

bool existsButNotPlain(const std::string& path)
{
    struct stat entry {};
    return ::stat(path.c_str(), &entry) == 0 && !S_ISREG(entry.st_mode);
}

}  // namespace

bool hasMediaExtension(std::string_view name)
{
    return media_extensions::belongsTo(name, media_extensions::video_exts)
           || media_extensions::belongsTo(name, media_extensions::audio_exts);
}

std::vector<std::string> folderFiles(const std::string& folder)
{
    std::vector<std::string> files;
    if (!isFolder(folder))
        return files;
    const std::string prefix = folder.back() == '/' ? folder : folder + '/';
    static const std::string mediaLists =
        std::string(media_extensions::video_exts) + std::string(media_extensions::audio_exts);
    std::error_code ec;
    for (std::filesystem::directory_iterator it(prefix, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().native();
        const std::string path = prefix + name;
        if (!isFolder(path) && media_extensions::belongsTo(name, mediaLists))
            files.push_back(path);
    }
    return files;
}

bool isTextName(std::string_view name)
{
    const QByteArray raw(name.data(), static_cast<qsizetype>(name.size()));
    return QFile::encodeName(QFile::decodeName(raw)) == raw;
}

Admission admit(TFFDecoder& probe, const std::string& path)
{
    Admission result;
    try {
        if (existsButNotPlain(path)) {
            result.refusal = std::string(kLoadError) + path + ": not a plain file";
        } else if (!probe.LoadFile(path)) {
            result.refusal = std::string(kLoadError) + path;
        } else if (probe.FirstAudioStreamIndex() < 0) {
            result.refusal = std::string(kNoAudioStream) + path;
        } else {
            result.sizeBytes = probe.FileSize();
            TFileStreamInfo info;
            probe.GetFileInfo(info);
            result.durationUs = info.Duration;
            TVideoStreamInfo video;
            TAudioStreamInfo audio;
            // The list shows no format without a duration.
            if (info.Duration > 0 && probe.GetVideoStreamInfo(video) && !video.CodecName.empty())
                result.codec = video.CodecName;
            else if (info.Duration > 0 && probe.GetAudioStreamInfo(audio))
                result.codec = audio.CodecName;
            result.admitted = true;
        }
    } catch (const std::exception&) {
        result = {};
    } catch (...) {
        result = {};
    }
    probe.CloseFile();
    return result;
}

}  // namespace list_admission
