#pragma once

#include "VelmoJSON.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// Shared by the fuzz targets: the bytes as text, a Qt application object for
// the parsers that expect one, a scratch folder, and the failure that stops
// the fuzzer with a readable reason.
namespace FuzzSupport {

inline std::string_view text(const std::uint8_t* data, std::size_t size)
{
    return { reinterpret_cast<const char*>(data), size };
}

[[noreturn]] inline void fail(const char* what)
{
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::abort();
}

// Created once, before the first input.
inline void ensureApplication()
{
    static int argc = 1;
    static char name[] = "velmo-fuzz";
    static char* argv[] = { name, nullptr };
    static QCoreApplication* app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    (void)app;
}

// A folder that lives as long as the fuzzer, in memory where /dev/shm
// exists: the file targets write every input to disk.
inline const QString& scratchFolder()
{
    static QTemporaryDir folder(QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/velmo-fuzz-XXXXXX")
                                                                        : QDir::tempPath() + QStringLiteral("/velmo-fuzz-XXXXXX"));
    static const QString path = folder.isValid() ? folder.path() : QString();
    if (path.isEmpty())
        fail("cannot create a scratch folder");
    return path;
}

// Whatever a decoder accepts, its encoder writes something the decoder reads
// back, and encoding that again gives the same text: what the cache or the
// keyring stores can always be loaded.
template <typename T>
void checkRoundTrip(const T& decoded)
{
    const std::string once = VelmoJSON::encode(decoded);
    T again;
    try {
        again = VelmoJSON::decode<T>(once);
    } catch (const VelmoJSON::DecodingError& error) {
        std::fprintf(stderr, "re-decoding %s failed: %s\n", once.c_str(), error.detailedDescription().c_str());
        fail("an encoded record does not decode");
    }
    if (VelmoJSON::encode(again) != once)
        fail("encoding is not stable over a round trip");
}

// Decodes a record the way the client and the cache do; only DecodingError
// may come out of bad input.
template <typename T>
void fuzzRecord(const std::uint8_t* data, std::size_t size)
{
    T decoded;
    try {
        decoded = VelmoJSON::decode<T>(text(data, size));
    } catch (const VelmoJSON::DecodingError&) {
        return;
    }
    checkRoundTrip(decoded);
}

} // namespace FuzzSupport
