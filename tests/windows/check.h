#pragma once

// The checks of the Windows test programs: plain C++ with no test framework,
// so they link against nothing but the system. Each failed check prints its
// place and expression; main returns checkSummary(), non-zero after any.

#include <windows.h>

#include <cstdio>

inline int &checkFailures()
{
    static int failures = 0;
    return failures;
}

inline int &checkCount()
{
    static int count = 0;
    return count;
}

inline bool checkRecord(bool ok, const char *file, int line, const char *what)
{
    ++checkCount();
    if (!ok) {
        ++checkFailures();
        std::printf("FAIL %s:%d: %s\n", file, line, what);
        std::fflush(stdout);
    }
    return ok;
}

#define CHECK(expr) checkRecord(static_cast<bool>(expr), __FILE__, __LINE__, #expr)

// Equality of two integers, with both values in the message when it fails.
#define CHECK_EQ(actual, expected)                                                                 \
    do {                                                                                           \
        const long long checkActual_ = static_cast<long long>(actual);                             \
        const long long checkExpected_ = static_cast<long long>(expected);                         \
        if (!checkRecord(checkActual_ == checkExpected_, __FILE__, __LINE__,                       \
                         #actual " == " #expected))                                                \
            std::printf("     got %lld, expected %lld\n", checkActual_, checkExpected_);           \
    } while (false)

// What the system answered where the answer is only recorded, not judged.
#define NOTE(...)                                                                                  \
    do {                                                                                           \
        std::printf("  note: " __VA_ARGS__);                                                       \
        std::printf("\n");                                                                         \
    } while (false)

// True under wine, whose dial-up service is stubs: its answers are recorded
// and checked as wine's, and the checks that need the real service are left
// to a Windows machine.
inline bool underWine()
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

inline int checkSummary(const char *program)
{
    std::printf("%s: %d checks, %d failed\n", program, checkCount(), checkFailures());
    return checkFailures() == 0 && checkCount() > 0 ? 0 : 1;
}
