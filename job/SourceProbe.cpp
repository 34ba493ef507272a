#include "job/SourceProbe.h"

#include "media/TFFDecoder.h"

#include <exception>

#include <sys/stat.h>

namespace source_probe {

bool probe(TFFDecoder& decoder, const std::string& path, ProbeFacts& facts, std::string& error)
{
    // A FIFO put in a file's place would block the open, and the program with it, until
    // something writes to it; a folder or a device is no media file either.
    struct stat entry {};
    if (::stat(path.c_str(), &entry) == 0 && !S_ISREG(entry.st_mode)) {
        error = path + ": not a plain file";
        return false;
    }
    try {
        if (!decoder.LoadFile(path)) {
            error = decoder.LastErrorMessage();
            return false;
        }
        facts = probeFactsOf(decoder);
        decoder.CloseFile();
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

}  // namespace source_probe
