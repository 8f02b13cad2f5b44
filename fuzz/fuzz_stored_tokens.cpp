// The stored session record (keyring item, session file, CLI token file).
#include "StoredTokens.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzSupport::fuzzRecord<StoredTokens>(data, size);
    return 0;
}
