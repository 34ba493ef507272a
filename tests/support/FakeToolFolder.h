#pragma once

#include "support/TempDir.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// What a fake tool does when it is run, in this order: record its arguments, print `text`
// (cut at the `splits` byte positions with a pause at each), leave a child behind that outlives
// it (`orphan`), hang forever with a hanging child (`hang`), hand over to `execProgram` with the
// same arguments, kill itself with `signal`, or exit with `exitStatus`.
struct FakeToolBehaviour {
    std::string text;
    std::vector<std::size_t> splits;
    int pauseMs = 50;
    bool orphan = false;
    bool hang = false;
    std::string hangIf;  // with hang: only when an argument holds this text, else go on
    std::string execProgram;
    int signal = 0;
    int exitStatus = 0;

    static FakeToolBehaviour exitWith(int status);
    static FakeToolBehaviour crashWith(int signal);
    // Prints "pid=<pid> child=<pid>" (on standard error) and never ends, nor does its child.
    static FakeToolBehaviour hanging();
    // Prints text, cut before byte `splitAt` with a pause, then exits with `status`.
    static FakeToolBehaviour printing(std::string text, std::size_t splitAt = std::string::npos,
                                      int status = 0);
    // "Error " lines (as ffmpeg prints them), then exit status 1.
    static FakeToolBehaviour errorLines();
    // Exit status 1 after a few lines of which none holds "Error ".
    static FakeToolBehaviour silentFailure();
    // Prints text first, then runs the real program with the same arguments.
    static FakeToolBehaviour printingThenRunning(std::string text, std::string program);
};

// A stand-in for the Windows directory: a temporary folder with qvx/client123 (the converter),
// qvx/client (the normaliser) and qvx/meter (the measuring worker, the real one unless told),
// each a fake, a link to the real tool, or missing. Point
// the program at it with useAsWindowsDirectory() (sets AURALON_WINDOWS_DIR until destruction).
class FakeToolFolder {
public:
    enum class Tool { Converter, Normalizer, Meter };

    FakeToolFolder();
    ~FakeToolFolder();
    FakeToolFolder(const FakeToolFolder&) = delete;
    FakeToolFolder& operator=(const FakeToolFolder&) = delete;

    // Makes the tool a fake that behaves as told and records its arguments.
    void setFake(Tool tool, const FakeToolBehaviour& behaviour);
    // Makes the tool a link to the real one: ffmpeg, or the built normaliser or worker.
    void linkReal(Tool tool);
    // Leaves no file under the tool's name.
    void remove(Tool tool);

    void useAsWindowsDirectory();

    std::string windowsDirectory() const { return dir_.str(); }
    std::string toolPath(Tool tool) const;

    // The argument vectors of every run of the fake so far, oldest first.
    std::vector<std::vector<std::string>> recordedRuns(Tool tool) const;

private:
    std::string baseName(Tool tool) const;

    TempDir dir_;
    std::optional<std::string> savedWindowsDir_;
    bool windowsDirSet_ = false;
};

}  // namespace testsupport
