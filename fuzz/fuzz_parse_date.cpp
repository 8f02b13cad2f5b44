// Dates from response bodies and stored records.
#include "FuzzSupport.h"

#include <chrono>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto parsed = VelmoJSON::parseDate(FuzzSupport::text(data, size));
    if (!parsed)
        return 0;
    // What we write back (whole seconds) reads as the same second.
    const std::string written = VelmoJSON::formatDate(*parsed);
    const auto again = VelmoJSON::parseDate(written);
    if (!again)
        FuzzSupport::fail("a formatted date does not parse");
    if (std::chrono::floor<std::chrono::seconds>(*again) != std::chrono::floor<std::chrono::seconds>(*parsed))
        FuzzSupport::fail("a date moves over a round trip");
    return 0;
}
