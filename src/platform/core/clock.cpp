#include "platform/core/clock.h"

#include "platform/core/saturating.h"

#include <QDateTime>

#include <atomic>
#include <limits>

namespace platform::clock {

namespace {

// The moment a test set, or the least value while the system's clock runs.
constexpr qint64 kSystem = std::numeric_limits<qint64>::min();
std::atomic<qint64> g_setMs{kSystem};

} // namespace

qint64 nowMs()
{
    const qint64 set = g_setMs.load(std::memory_order_relaxed);
    return set == kSystem ? QDateTime::currentMSecsSinceEpoch() : set;
}

void setNowMs(qint64 ms)
{
    // The least value stands for the system's clock; a moment that far back
    // is read as the one after it.
    g_setMs.store(ms == kSystem ? kSystem + 1 : ms, std::memory_order_relaxed);
}

void advanceMs(qint64 ms)
{
    setNowMs(saturatingAdd(nowMs(), ms));
}

void useSystemClock()
{
    g_setMs.store(kSystem, std::memory_order_relaxed);
}

} // namespace platform::clock
