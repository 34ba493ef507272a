// client: the loudness normaliser that Auralon runs over its WAV copies, and the meter of its reports.
#include "MeasureLine.h"
#include "normalizer/BatchNormalizer.h"
#include "normalizer/CommandLine.h"
#include "normalizer/LineWriter.h"
#include "normalizer/StopSignal.h"
#include "normalizer/StreamMeasure.h"

#include <stdexcept>
#include <unistd.h>

namespace {

// The measuring mode: standard input measured, one line on standard output.
int measure(const WavFormat& format, LineWriter& lines)
{
    try {
        lines.out(measure_line::format(stream_measure::measure(STDIN_FILENO, format)));
        return 0;
    } catch (const std::runtime_error& e) {  // WavError, or a format the meter cannot take
        lines.err("client: cannot measure standard input: " + std::string(e.what()));
    } catch (const std::bad_alloc&) {
        lines.err("client: cannot measure standard input: out of memory");
    }
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    stop_signal::install();
    LineWriter lines(STDOUT_FILENO, STDERR_FILENO);
    command_line::ParseResult parsed = command_line::parse(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        lines.err("client: " + parsed.error + "\nTry 'client --help'.");
        return 2;
    }
    if (parsed.options.help) {
        lines.out(command_line::usage());
        return 0;
    }
    if (parsed.options.version) {
        lines.out("client (Auralon) " AURALON_VERSION);
        return 0;
    }
    int status = parsed.options.measure ? measure(parsed.options.rawFormat, lines)
                                        : BatchNormalizer(parsed.options, lines).run();
    if (stop_signal::pending())
        stop_signal::reraise();
    return status;
}
