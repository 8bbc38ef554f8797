#include "platform/ptr32.h"

#include <array>
#include <mutex>

namespace {

// A ring of recently registered pointers: a record only lives for the call it
// is made for, so the oldest registrations are the first to be reused.
constexpr std::size_t kSlots = 4096;
std::array<const void *, kSlots> g_slots{};
std::size_t g_next = 0;
std::mutex g_mutex;

} // namespace

namespace platform {

std::uint32_t pointerHandle(const void *p)
{
    if (!p)
        return 0;
    std::lock_guard lock(g_mutex);
    for (std::size_t i = 0; i < kSlots; ++i) {
        if (g_slots[i] == p)
            return static_cast<std::uint32_t>(i + 1);
    }
    const std::size_t slot = g_next;
    g_next = (g_next + 1) % kSlots;
    g_slots[slot] = p;
    return static_cast<std::uint32_t>(slot + 1);
}

const void *pointerFromHandle(std::uint32_t handle)
{
    if (handle == 0 || handle > kSlots)
        return nullptr;
    std::lock_guard lock(g_mutex);
    return g_slots[handle - 1];
}

} // namespace platform
