#include "MicrosUSD.h"

#include <cmath>
#include <charconv>
#include <limits>

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b)
{
    std::int64_t out = 0;
    if (__builtin_add_overflow(a, b, &out))
        return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    return out;
}

std::int64_t saturatingSub(std::int64_t a, std::int64_t b)
{
    std::int64_t out = 0;
    if (__builtin_sub_overflow(a, b, &out))
        return b < 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    return out;
}

MicrosUSD operator+(MicrosUSD a, MicrosUSD b)
{
    return MicrosUSD(saturatingAdd(a.value, b.value));
}

MicrosUSD operator-(MicrosUSD a, MicrosUSD b)
{
    return MicrosUSD(saturatingSub(a.value, b.value));
}

double MicrosUSD::dollars() const
{
    return static_cast<double>(value) / 1'000'000.0;
}

std::string MicrosUSD::formatted() const
{
    // The magnitude of INT64_MIN only fits unsigned.
    const std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    std::uint64_t whole = magnitude / 1'000'000;
    const std::uint64_t frac = magnitude % 1'000'000;
    std::uint64_t cents = 0;
    if (frac >= 995'000)
        whole += 1; // rounds up into the next dollar
    else
        cents = (frac + 5'000) / 10'000;

    char cent[3] = { static_cast<char>('0' + cents / 10), static_cast<char>('0' + cents % 10), '\0' };
    std::string text = value < 0 ? "-$" : "$";
    text += std::to_string(whole);
    text += '.';
    text += cent;
    return text;
}

std::string MicrosUSD::compact() const
{
    const double d = std::fabs(static_cast<double>(value) / 1'000'000.0);
    if (d < 1000.0)
        return formatted();

    const bool millions = d >= 1'000'000.0;
    const double n = millions ? d / 1'000'000.0 : d / 1000.0;
    // to_chars, not printf: the C library's decimal point follows the user's
    // locale once Qt has set it ("1,5K" on a German desktop).
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, n, std::chars_format::fixed, 1);
    std::string number(buffer, error == std::errc() ? end : buffer);
    if (number.size() >= 2 && number.compare(number.size() - 2, 2, ".0") == 0)
        number.resize(number.size() - 2);
    return std::string(value < 0 ? "-$" : "$") + number + (millions ? "M" : "K");
}
