#include "NormalizerTestSupport.h"

#include "normalizer/UniqueFd.h"
#include "normalizer/WavParser.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

#include <QProcess>

#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <stdexcept>

namespace normtest {

std::string clientPath()
{
    return AURALON_TEST_BIN_DIR "/qvx/client";
}

ClientRun runClient(const std::vector<std::string>& args, std::function<void()> beforeExec)
{
    QStringList list;
    for (const std::string& a : args)
        list << QString::fromStdString(a);
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    if (beforeExec)
        process.setChildProcessModifier(beforeExec);
    process.start(QString::fromStdString(clientPath()), list);
    ClientRun run;
    if (!process.waitForStarted() || !process.waitForFinished(240000))
        return run;
    run.out = process.readAllStandardOutput().toStdString();
    run.err = process.readAllStandardError().toStdString();
    if (process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    return run;
}

void makeMusic(const std::filesystem::path& out, double lufs, double seconds, double baseHz,
               const std::vector<std::string>& extraArgs)
{
    // The mix below measures about -6.5 LUFS at amplitude 1.
    double amplitude = std::pow(10.0, (lufs + 6.5) / 20.0);
    std::ostringstream voice;
    voice << amplitude << "*(0.6*sin(2*PI*" << baseHz << "*t)+0.3*sin(2*PI*" << baseHz * 1.5
          << "*t)+0.2*sin(2*PI*" << baseHz * 2.25 << "*t))*(0.7+0.3*sin(2*PI*1.3*t))";
    std::string src = "aevalsrc=" + voice.str() + "|" + voice.str() + ":s=44100:d=" + std::to_string(seconds);
    testsupport::makeMedia(out, src, {}, extraArgs);
}

double jointLoudness(const std::vector<std::filesystem::path>& files)
{
    std::vector<std::string> args{"-hide_banner", "-nostdin"};
    std::string graph;
    for (std::size_t i = 0; i < files.size(); ++i) {
        args.insert(args.end(), {"-i", files[i].string()});
        graph += "[" + std::to_string(i) + ":a]";
    }
    graph += "concat=n=" + std::to_string(files.size()) + ":v=0:a=1,ebur128";
    args.insert(args.end(), {"-filter_complex", graph, "-f", "null", "-"});
    testsupport::CommandResult r = testsupport::runCommand(FFMPEG_EXECUTABLE, args);
    auto summary = r.output.rfind("Integrated loudness:");
    auto value = summary == std::string::npos ? summary : r.output.find("I:", summary);
    if (value == std::string::npos)
        throw std::runtime_error("no joint loudness in " + r.output);
    return std::strtod(r.output.c_str() + value + 2, nullptr);
}

std::string bytesBesideSamples(const std::filesystem::path& file)
{
    UniqueFd fd(::open(file.c_str(), O_RDONLY));
    WavLayout layout = wav_parser::parse(fd.get());
    std::string bytes = testsupport::readFile(file);
    return bytes.substr(0, layout.sampleOffset) + "|" + bytes.substr(layout.sampleOffset + layout.sampleBytes());
}

std::string le16(unsigned v)
{
    return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}

std::string le32(unsigned long v)
{
    return le16(v & 0xFFFF) + le16((v >> 16) & 0xFFFF);
}

std::string chunk(const std::string& id, const std::string& body)
{
    std::string c = id + le32(body.size()) + body;
    if (body.size() % 2)
        c += '\0';
    return c;
}

std::string pcmFmt(unsigned tag, unsigned channels, unsigned rate, unsigned bits)
{
    unsigned align = channels * ((bits + 7) / 8);
    return chunk("fmt ", le16(tag) + le16(channels) + le32(rate) + le32(rate * align) + le16(align) + le16(bits));
}

std::string riff(const std::string& chunks, const char* form)
{
    return std::string(form) + le32(chunks.size() + 4) + "WAVE" + chunks;
}

}  // namespace normtest
