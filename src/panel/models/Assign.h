#pragma once

#include <utility>

// Stores `value` in `field`; true when that changed it, so the caller emits
// the property's signal only on a real change.
template <typename T, typename U>
bool assign(T& field, U&& value)
{
    if (field == value)
        return false;
    field = std::forward<U>(value);
    return true;
}
