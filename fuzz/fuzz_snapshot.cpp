// The snapshot cache file, as found on disk.
#include "Snapshot.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzSupport::fuzzRecord<Snapshot>(data, size);
    return 0;
}
