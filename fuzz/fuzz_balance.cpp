// The balance endpoint's response body.
#include "Balance.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzSupport::fuzzRecord<Balance>(data, size);
    return 0;
}
