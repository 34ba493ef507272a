// client: the loudness normaliser that Auralon runs over its WAV copies.
#include "normalizer/BatchNormalizer.h"
#include "normalizer/CommandLine.h"
#include "normalizer/LineWriter.h"
#include "normalizer/StopSignal.h"

#include <unistd.h>

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
    BatchNormalizer batch(parsed.options, lines);
    int status = batch.run();
    if (stop_signal::pending())
        stop_signal::reraise();
    return status;
}
