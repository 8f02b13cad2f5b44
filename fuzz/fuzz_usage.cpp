// The usage endpoint's response body.
#include "Usage.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzSupport::fuzzRecord<UsageSummary>(data, size);
    return 0;
}
