#pragma once

// Sums, differences and products of 64-bit moments and durations that stay
// at the ends of the range rather than overflow, whatever the stored values.

#include <QtGlobal>
#include <QtNumeric>

#include <limits>

namespace platform {

inline qint64 saturatingAdd(qint64 a, qint64 b)
{
    qint64 r = 0;
    if (qAddOverflow(a, b, &r))
        return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    return r;
}

inline qint64 saturatingSub(qint64 a, qint64 b)
{
    qint64 r = 0;
    if (qSubOverflow(a, b, &r))
        return b < 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    return r;
}

inline qint64 saturatingMul(qint64 a, qint64 b)
{
    qint64 r = 0;
    if (qMulOverflow(a, b, &r))
        return (a < 0) != (b < 0) ? std::numeric_limits<qint64>::min()
                                  : std::numeric_limits<qint64>::max();
    return r;
}

} // namespace platform
