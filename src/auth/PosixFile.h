#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <sys/types.h>

// Small file operations with the guarantees the token files need. Errors are
// FileError.
namespace PosixFile {

// The whole content of a regular file (symbolic links are followed), or none
// when nothing exists at `path`. A directory, FIFO, device or a file larger
// than maxBytes is an error: reading must never hang or exhaust memory.
std::optional<std::string> readRegularFile(const std::string& path, std::size_t maxBytes);

// readRegularFile() for a file that holds a secret: when group or others may
// read it, it is narrowed to 0600 first (logged once per file and process).
std::optional<std::string> readPrivateFile(const std::string& path, std::size_t maxBytes);

// Writes `bytes` to `path` through a new file beside it and a rename, so that
// readers see the old content or the new one, never a part. The file gets
// `mode`; the temporary file is removed on every way out.
void writeAtomically(const std::string& path, const std::string& bytes, mode_t mode);

// Creates a file that does not exist yet with `mode` and writes `bytes`.
void writeNewFile(const std::string& path, const std::string& bytes, mode_t mode);

// Removes a file, ignoring every error.
void removeQuietly(const std::string& path);

// A fresh random name part (32 hex digits), unique for practical purposes.
std::string uniqueName();

// `path` + "." + uniqueName() + ".tmp": where a new version is written first.
std::string temporaryPathFor(const std::string& path);
// True for a name made by temporaryPathFor() from a file named `baseName`.
bool isTemporaryName(const std::string& name, const std::string& baseName);

} // namespace PosixFile
