#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

// The next version of a file, begun before its content is known: the
// temporary file beside `path` gets its disk space at once, so that writing
// the content later cannot fail for want of space. A renewal reserves before
// it spends the refresh token, and commits the answer as soon as it arrives.
//
// Destroying an uncommitted reservation removes the temporary file.
class ReservedFile {
public:
    // Creates path.<unique>.tmp with `mode` and allocates `bytes` for it.
    // Throws FileError (for example when the disk is full).
    ReservedFile(std::string path, std::size_t bytes, mode_t mode);
    ~ReservedFile();
    ReservedFile(const ReservedFile&) = delete;
    ReservedFile& operator=(const ReservedFile&) = delete;

    const std::string& temporaryPath() const { return m_temporary; }

    // Writes `content` into the reserved space, cuts off the rest, syncs and
    // renames the file over `path`. Throws FileError; the temporary file is
    // then gone and `path` untouched.
    void commit(const std::string& content);

private:
    void discard();

    std::string m_path;
    std::string m_temporary;
    int m_fd = -1;
};
