// The velmo command-line tool's tokens.json, read from a real file.
#include "CLICredentialReader.h"
#include "FileError.h"
#include "FuzzSupport.h"

#include <QDir>
#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string home = FuzzSupport::scratchFolder().toStdString();
    static const CLICredentialReader reader(home);
    static const bool made = QDir().mkpath(QString::fromStdString(reader.velmoDirectory()));
    (void)made;
    QFile file(QString::fromStdString(reader.tokensFile()));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        FuzzSupport::fail("cannot write the token file");
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    try {
        const auto credential = reader.readDetailed();
        if (!credential)
            FuzzSupport::fail("an existing token file read as absent");
    } catch (const VelmoJSON::DecodingError&) {
    } catch (const CLICredentialReader::ReaderError&) {
    } catch (const FileError&) {
    }
    return 0;
}
