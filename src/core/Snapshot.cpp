#include "Snapshot.h"

#include "JSONFields.h"

using namespace VelmoJSON::fields;
using VelmoJSON::Json;

Snapshot VelmoJSON::Coder<Snapshot>::decode(const Json& value)
{
    expectObject(value);
    Snapshot snapshot;
    snapshot.balance = field(value, "balance", Coder<Balance>::decode);
    snapshot.usage = field(value, "usage", Coder<UsageSummary>::decode);
    snapshot.fetchedAt = requiredField(value, "fetchedAt", date);
    return snapshot;
}

Json VelmoJSON::Coder<Snapshot>::encode(const Snapshot& snapshot)
{
    Json out = { { "fetchedAt", formatDate(snapshot.fetchedAt) } };
    if (snapshot.balance)
        out["balance"] = Coder<Balance>::encode(*snapshot.balance);
    if (snapshot.usage)
        out["usage"] = Coder<UsageSummary>::encode(*snapshot.usage);
    return out;
}
