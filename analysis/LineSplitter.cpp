#include "analysis/LineSplitter.h"

#include <algorithm>

void LineSplitter::feed(std::string_view bytes, const LineHandler& onLine)
{
    while (!bytes.empty()) {
        std::size_t end = bytes.find_first_of("\r\n");
        std::size_t room = kMaxLineLength - pending_.size();
        std::size_t take = std::min({end, bytes.size(), room});
        pending_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (take == end) {
            bytes.remove_prefix(1);  // the terminator
            emit(onLine);
        } else if (pending_.size() >= kMaxLineLength) {
            emit(onLine);
        }
    }
}

void LineSplitter::finish(const LineHandler& onLine) { emit(onLine); }

void LineSplitter::emit(const LineHandler& onLine)
{
    if (pending_.empty())
        return;
    // Moved out first: the handler may feed this splitter again.
    std::string line = std::move(pending_);
    pending_.clear();
    if (onLine)
        onLine(line);
}
