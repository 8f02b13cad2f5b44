#pragma once

#include <cstdio>
#include <string_view>

// Writes whole lines to a stdio stream, flushed at once, and says when the
// reader has gone (a status bar that restarted closes our standard output).
class LineWriter {
public:
    explicit LineWriter(std::FILE* stream);

    // `line` plus a line break; false once any write or flush has failed,
    // and from then on for good.
    bool write(std::string_view line);
    bool failed() const { return m_failed; }

    // A write to a closed pipe then fails with EPIPE instead of killing the
    // process with SIGPIPE.
    static void ignoreBrokenPipe();

private:
    std::FILE* m_stream;
    bool m_failed = false;
};
