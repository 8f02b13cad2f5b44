#include "LineWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

struct Pipe {
    Pipe()
    {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        readFd = fds[0];
        writer = ::fdopen(fds[1], "w");
    }
    ~Pipe()
    {
        if (readFd >= 0)
            ::close(readFd);
        if (writer)
            std::fclose(writer);
    }
    std::string readAvailable() const
    {
        char buffer[256];
        const ssize_t count = ::read(readFd, buffer, sizeof buffer);
        return count > 0 ? std::string(buffer, std::size_t(count)) : std::string();
    }
    int readFd = -1;
    std::FILE* writer = nullptr;
};

TEST(LineWriter, WritesWholeFlushedLines)
{
    Pipe pipe;
    LineWriter writer(pipe.writer);
    EXPECT_TRUE(writer.write(R"({"text":"$42.75"})"));
    EXPECT_EQ(pipe.readAvailable(), "{\"text\":\"$42.75\"}\n") << "flushed, not left in the buffer";
    EXPECT_TRUE(writer.write(""));
    EXPECT_EQ(pipe.readAvailable(), "\n");
    EXPECT_FALSE(writer.failed());
}

TEST(LineWriter, AClosedReaderFailsInsteadOfKillingTheProcess)
{
    LineWriter::ignoreBrokenPipe();
    Pipe pipe;
    ::close(pipe.readFd);
    pipe.readFd = -1;
    LineWriter writer(pipe.writer);
    EXPECT_FALSE(writer.write("line"));
    EXPECT_TRUE(writer.failed());
    EXPECT_FALSE(writer.write("again")) << "failed for good";
}

TEST(LineWriter, NoStreamIsAFailure)
{
    LineWriter writer(nullptr);
    EXPECT_FALSE(writer.write("line"));
}

} // namespace
