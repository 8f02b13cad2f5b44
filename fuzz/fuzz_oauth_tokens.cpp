// The token endpoint's response body.
#include "OAuthTokens.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzSupport::fuzzRecord<OAuthTokens>(data, size);
    return 0;
}
