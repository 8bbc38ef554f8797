#pragma once

#include "platform/wintypes.h"

#ifdef _WIN32
template <class T> using Ptr32 = T *;
#else
#include <cstdint>

namespace platform {
// Registers a pointer of this process and returns the 32-bit number that
// stands for it in a 32-bit record; 0 stands for the null pointer.
std::uint32_t pointerHandle(const void *p);
// The pointer a number stands for, or nullptr when it stands for none.
const void *pointerFromHandle(std::uint32_t handle);
} // namespace platform

// A pointer field of a 32-bit record: four bytes that name a pointer of this
// process, so the record keeps its published size on a 64-bit system.
template <class T> class Ptr32
{
public:
    Ptr32() = default;
    Ptr32(T *p) : m_handle(platform::pointerHandle(p)) {}
    Ptr32 &operator=(T *p)
    {
        m_handle = platform::pointerHandle(p);
        return *this;
    }
    T *get() const
    {
        return static_cast<T *>(const_cast<void *>(platform::pointerFromHandle(m_handle)));
    }
    explicit operator bool() const { return m_handle != 0; }
    std::uint32_t handle() const { return m_handle; }

private:
    std::uint32_t m_handle = 0;
};
static_assert(sizeof(Ptr32<char>) == 4);
#endif
