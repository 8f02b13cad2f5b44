// The update feed as downloaded.
#include "Appcast.h"
#include "UpdateError.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray feed = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QList<AppcastItem> items;
    try {
        items = Appcast::parse(feed);
    } catch (const UpdateError&) {
        return 0;
    }
    const auto newest = Appcast::newestUpdate(items, QStringLiteral("1.0"), QStringLiteral("2.0"));
    if (newest && !items.contains(*newest))
        FuzzSupport::fail("the newest update is not one of the feed's items");
    return 0;
}
