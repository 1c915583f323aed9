#pragma once
// Turning the JSON reader's doubles into integers.
//
// One rule everywhere: a value is truncated toward zero; NaN, an infinity or
// a value whose truncation lies outside the target type yields no value, and
// the member then counts as malformed exactly like a member of the wrong
// type. A plain C++ cast of such a value is undefined behaviour, so no reply
// number may reach one without passing through here.
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <type_traits>

namespace talvor {

template <class T>
std::optional<T> checked_truncate(double value)
{
    static_assert(std::is_integral_v<T> && !std::is_same_v<T, bool>);
    if (!std::isfinite(value))
        return std::nullopt;
    const double t = std::trunc(value);
    // Bounds as exact doubles: min is a power of two (or 0), and max + 1 is
    // one too, so "t < max + 1" is exact where "t <= max" would round.
    const double lo = static_cast<double>(std::numeric_limits<T>::min());
    const double hi_excl = std::ldexp(1.0, std::numeric_limits<T>::digits);
    if (t < lo || t >= hi_excl)
        return std::nullopt;
    return static_cast<T>(t);
}

} // namespace talvor
