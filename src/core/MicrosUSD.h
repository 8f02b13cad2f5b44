#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <string>

// An amount of money as a signed count of millionths of a US dollar.
// Arithmetic saturates at the ends of the 64-bit range instead of overflowing:
// the service never sends such amounts, and a wrapped sign would be worse than
// a clamped figure.
struct MicrosUSD {
    std::int64_t value = 0;

    constexpr MicrosUSD() = default;
    constexpr explicit MicrosUSD(std::int64_t micros)
        : value(micros)
    {
    }

    static const MicrosUSD zero;

    friend constexpr bool operator==(MicrosUSD, MicrosUSD) = default;
    friend constexpr auto operator<=>(MicrosUSD, MicrosUSD) = default;

    friend MicrosUSD operator+(MicrosUSD a, MicrosUSD b);
    friend MicrosUSD operator-(MicrosUSD a, MicrosUSD b);
    MicrosUSD& operator+=(MicrosUSD other) { return *this = *this + other; }
    MicrosUSD& operator-=(MicrosUSD other) { return *this = *this - other; }

    // value / 1 000 000; never used for display texts.
    double dollars() const;
    // "$12.34", "-$0.00": two decimals, no grouping, cents rounded half up.
    std::string formatted() const;
    // "$999.99", "$1.5K", "$2M": short text for the tray.
    std::string compact() const;
};

inline constexpr MicrosUSD MicrosUSD::zero {};

// Adds two 64-bit counts, clamping at the ends of the range.
std::int64_t saturatingAdd(std::int64_t a, std::int64_t b);
std::int64_t saturatingSub(std::int64_t a, std::int64_t b);

template <>
struct std::hash<MicrosUSD> {
    std::size_t operator()(MicrosUSD m) const noexcept { return std::hash<std::int64_t> {}(m.value); }
};
