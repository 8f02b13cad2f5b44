#pragma once

#include "Balance.h"
#include "Usage.h"

#include <optional>

// What one refresh produced; the unit the store publishes and the cache keeps.
struct Snapshot {
    std::optional<Balance> balance;
    std::optional<UsageSummary> usage;
    Timestamp fetchedAt;

    friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

template <>
struct VelmoJSON::Coder<Snapshot> {
    static Snapshot decode(const Json& value);
    static Json encode(const Snapshot& value);
};
