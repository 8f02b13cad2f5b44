#include "LineWriter.h"

#include <csignal>

LineWriter::LineWriter(std::FILE* stream)
    : m_stream(stream)
{
}

bool LineWriter::write(std::string_view line)
{
    if (m_failed || !m_stream)
        return false;
    const bool written = std::fwrite(line.data(), 1, line.size(), m_stream) == line.size()
        && std::fputc('\n', m_stream) != EOF && std::fflush(m_stream) == 0;
    if (!written) {
        m_failed = true;
        // Whatever is still buffered can never be delivered.
        std::clearerr(m_stream);
    }
    return written;
}

void LineWriter::ignoreBrokenPipe()
{
    std::signal(SIGPIPE, SIG_IGN);
}
