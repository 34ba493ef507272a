#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Cuts a tool's output, which arrives in reads of arbitrary size, into complete lines, so that
// a marker split across two reads is still seen, and seen once. Lines end at "\r" (progress
// lines rewrite themselves with it) or "\n"; the terminators are not part of the line and empty
// lines are dropped. An unfinished line is carried over to the next feed() and handed over by
// finish() when the output has ended.
class LineSplitter {
public:
    using LineHandler = std::function<void(std::string_view line)>;

    // A line that grows beyond this without a terminator is handed over in pieces of this
    // size, so a tool that never ends a line cannot make the program hold unbounded text.
    static constexpr std::size_t kMaxLineLength = 64 * 1024;

    void feed(std::string_view bytes, const LineHandler& onLine);
    void finish(const LineHandler& onLine);

    // Bytes of an unfinished line waiting for their terminator.
    std::size_t pendingSize() const { return pending_.size(); }

private:
    void emit(const LineHandler& onLine);

    std::string pending_;
};
