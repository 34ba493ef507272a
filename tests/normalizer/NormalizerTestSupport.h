#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace normtest {

std::string clientPath();

struct ClientRun {
    int exitCode = -1;  // -1 when killed by a signal
    std::string out;
    std::string err;
};

// Runs the real client with these arguments; `beforeExec` runs in the child.
ClientRun runClient(const std::vector<std::string>& args, std::function<void()> beforeExec = {});

// A music-like stereo signal (three partials under a slow envelope) of about the given
// loudness, written by ffmpeg; extra arguments go before the output name.
void makeMusic(const std::filesystem::path& out, double lufs, double seconds, double baseHz = 220,
               const std::vector<std::string>& extraArgs = {"-c:a", "pcm_s16le"});

// Joint integrated loudness of several files of one format, concatenated, by ffmpeg.
double jointLoudness(const std::vector<std::filesystem::path>& files);

// The file with its samples cut out: what the normaliser must keep byte for byte.
std::string bytesBesideSamples(const std::filesystem::path& file);

// Little-endian chunk and RIFF builders for hand-made files.
std::string le16(unsigned v);
std::string le32(unsigned long v);
std::string chunk(const std::string& id, const std::string& body);
std::string pcmFmt(unsigned tag, unsigned channels, unsigned rate, unsigned bits);
std::string riff(const std::string& chunks, const char* form = "RIFF");

}  // namespace normtest
