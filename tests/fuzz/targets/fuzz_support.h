#pragma once

// What every fuzz target shares: a private home for the whole run, so no
// target ever reads or writes the real home folder, Qt's warnings kept off
// the fuzzer's output, and a check that turns a broken property into a crash
// the fuzzer records with its input.

#include "support/testenv.h"

#include <QByteArray>

namespace fuzz {

// HOME and the XDG folders point into a temporary folder from the first call
// on (inside $TMPDIR when set), for the rest of the process.
const TemporaryHome &home();

// Prints what broke, with the bytes involved, and aborts.
[[noreturn]] void fail(const char *what, const QByteArray &detail = {});

inline void check(bool holds, const char *what, const QByteArray &detail = {})
{
    if (!holds)
        fail(what, detail);
}

} // namespace fuzz
