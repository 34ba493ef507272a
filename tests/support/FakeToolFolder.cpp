#include "support/FakeToolFolder.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace testsupport {
namespace {

// Words of a /bin/sh command, each in single quotes.
std::string shellQuoted(const std::string& word)
{
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

FakeToolBehaviour FakeToolBehaviour::exitWith(int status)
{
    FakeToolBehaviour b;
    b.exitStatus = status;
    return b;
}

FakeToolBehaviour FakeToolBehaviour::crashWith(int signal)
{
    FakeToolBehaviour b;
    b.signal = signal;
    return b;
}

FakeToolBehaviour FakeToolBehaviour::hanging()
{
    FakeToolBehaviour b;
    b.hang = true;
    return b;
}

FakeToolBehaviour FakeToolBehaviour::printing(std::string text, std::size_t splitAt, int status)
{
    FakeToolBehaviour b;
    b.text = std::move(text);
    if (splitAt != std::string::npos)
        b.splits.push_back(splitAt);
    b.exitStatus = status;
    return b;
}

FakeToolBehaviour FakeToolBehaviour::errorLines()
{
    return printing("Input #0, wav, from 'in.wav':\n"
                    "Error while decoding stream #0:0: Invalid data found when processing input\n"
                    "[out#0 @ 0x1] Error opening output file /x/out.mp3.\n",
                    std::string::npos, 1);
}

FakeToolBehaviour FakeToolBehaviour::silentFailure()
{
    return printing("ffmpeg version 5.1\n"
                    "/x/missing.wav: No such file or directory\n",
                    std::string::npos, 1);
}

FakeToolBehaviour FakeToolBehaviour::printingThenRunning(std::string text, std::string program)
{
    FakeToolBehaviour b = printing(std::move(text));
    b.execProgram = std::move(program);
    return b;
}

FakeToolFolder::FakeToolFolder()
{
    fs::create_directories(dir_.path() / "qvx");
    linkReal(Tool::Meter);
}

FakeToolFolder::~FakeToolFolder()
{
    if (!windowsDirSet_)
        return;
    if (savedWindowsDir_)
        ::setenv("AURALON_WINDOWS_DIR", savedWindowsDir_->c_str(), 1);
    else
        ::unsetenv("AURALON_WINDOWS_DIR");
}

std::string FakeToolFolder::baseName(Tool tool) const
{
    return tool == Tool::Converter ? "client123" : tool == Tool::Normalizer ? "client" : "meter";
}

std::string FakeToolFolder::toolPath(Tool tool) const
{
    return (dir_.path() / "qvx" / baseName(tool)).string();
}

void FakeToolFolder::remove(Tool tool)
{
    std::error_code ignored;
    fs::remove(toolPath(tool), ignored);
}

void FakeToolFolder::setFake(Tool tool, const FakeToolBehaviour& behaviour)
{
    remove(tool);
    const fs::path qvx = dir_.path() / "qvx";
    const std::string name = baseName(tool);
    std::vector<std::string> words{AURALON_TEST_FAKE_TOOL, "--log", (qvx / (name + ".log")).string()};
    if (!behaviour.text.empty()) {
        const fs::path textFile = qvx / (name + ".text");
        writeFile(textFile, behaviour.text);
        words.insert(words.end(), {"--text", textFile.string(), "--pause",
                                   std::to_string(behaviour.pauseMs)});
        for (std::size_t split : behaviour.splits)
            words.insert(words.end(), {"--split", std::to_string(split)});
    }
    if (behaviour.orphan)
        words.push_back("--orphan");
    if (behaviour.hang)
        words.push_back("--hang");
    if (!behaviour.hangIf.empty())
        words.insert(words.end(), {"--hang-if", behaviour.hangIf});
    if (!behaviour.execProgram.empty())
        words.insert(words.end(), {"--exec", behaviour.execProgram});
    if (behaviour.signal)
        words.insert(words.end(), {"--signal", std::to_string(behaviour.signal)});
    words.insert(words.end(), {"--exit", std::to_string(behaviour.exitStatus)});

    std::string script = "#!/bin/sh\nexec";
    for (const std::string& word : words)
        script += " " + shellQuoted(word);
    script += " -- \"$@\"\n";
    writeFile(toolPath(tool), script);
    fs::permissions(toolPath(tool), fs::perms::owner_all | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
}

void FakeToolFolder::linkReal(Tool tool)
{
    remove(tool);
    const std::string target = tool == Tool::Converter    ? std::string(FFMPEG_EXECUTABLE)
                               : tool == Tool::Normalizer ? std::string(AURALON_TEST_BIN_DIR "/qvx/client")
                                                          : std::string(AURALON_TEST_BIN_DIR "/qvx/meter");
    fs::create_symlink(target, toolPath(tool));
}

void FakeToolFolder::useAsWindowsDirectory()
{
    if (!windowsDirSet_) {
        if (const char* old = std::getenv("AURALON_WINDOWS_DIR"))
            savedWindowsDir_ = old;
        windowsDirSet_ = true;
    }
    ::setenv("AURALON_WINDOWS_DIR", windowsDirectory().c_str(), 1);
}

std::vector<std::vector<std::string>> FakeToolFolder::recordedRuns(Tool tool) const
{
    std::vector<std::vector<std::string>> runs;
    const std::string log = readFile(dir_.path() / "qvx" / (baseName(tool) + ".log"));
    std::vector<std::string> current;
    std::string word;
    for (char c : log) {
        if (c == '\0') {
            current.push_back(word);
            word.clear();
        } else if (c == '\n' && word.empty()) {
            runs.push_back(std::move(current));
            current.clear();
        } else {
            word += c;
        }
    }
    return runs;
}

}  // namespace testsupport
