#pragma once

// SIGINT, SIGTERM and SIGHUP ask the normaliser to stop: work in progress is abandoned at
// the next block, its temporary file removed, and the originals stay as they were.
// SIGPIPE and SIGXFSZ are ignored, so that a closed output pipe or a file-size limit
// becomes an error on the file instead of a kill in the middle of a rewrite.
namespace stop_signal {

void install();
// The signal that asked to stop, or 0.
int pending();
// Ends the process by the pending signal, as its default action would.
[[noreturn]] void reraise();

}  // namespace stop_signal
