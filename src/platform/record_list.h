#pragma once

// A list of the Remote Access Service's records, read into a buffer that grows
// as the service asks. The service fills a caller's buffer and, when it is too
// small, answers ERROR_BUFFER_TOO_SMALL (603) with the size it needs. Free of
// any record header, so that the system's own records (Windows' <ras.h>) can
// be listed the same way as the program's.

#include <algorithm>
#include <cstddef>
#include <vector>

namespace platform {

inline constexpr unsigned kBufferTooSmall = 603;

// Calls list(records, &bytes, &count) until the records fit (16 times at
// most); `records` then holds the listed ones, or nothing when the service
// failed. Only the first record is prepared (its dwSize set): the service
// fills every record it counts. Returns the service's result.
template <typename Dword, typename Record, typename List>
Dword listRecords(std::vector<Record> &records, List list)
{
    if (records.empty())
        records.resize(4);
    // A list that grows between two calls asks again; one that grows on every
    // call is a service that has failed.
    for (int attempt = 1;; ++attempt) {
        records[0] = Record{};
        records[0].dwSize = sizeof(Record);
        Dword bytes = static_cast<Dword>(records.size() * sizeof(Record));
        Dword count = 0;
        const Dword result = list(records.data(), &bytes, &count);
        const std::size_t needed = std::max<std::size_t>(
            count, (std::size_t{bytes} + sizeof(Record) - 1) / sizeof(Record));
        if (result == kBufferTooSmall && needed > records.size() && attempt < 16) {
            records.resize(needed);
            continue;
        }
        records.resize(result == 0 ? std::min<std::size_t>(count, records.size()) : 0);
        return result;
    }
}

} // namespace platform
