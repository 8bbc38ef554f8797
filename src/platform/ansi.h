#pragma once

// Texts are wide inside the program and ANSI (the system code page) at every
// platform call and record field. On systems other than Windows the system
// code page is the locale's 8-bit encoding (UTF-8 in practice).

#include <QByteArray>
#include <QString>

namespace platform {

QByteArray toAnsi(const QString &text);

// The wide text of a fixed-length ANSI field of `size` bytes: every byte is
// kept, NULs and what follows them included, until TrimAtNul cuts it.
QString fromAnsiField(const char *field, int size);

// The text of a NUL-terminated ANSI field of `size` bytes: the bytes before
// the first NUL, or all of them when the field holds none.
QString fieldText(const char *field, int size);

// Copies a NUL-terminated ANSI text into a record field, as lstrcpyA does,
// but never past the field: returns false, leaving the field empty, when the
// text and its NUL do not fit in `size` bytes.
bool copyToField(char *field, int size, const QByteArray &ansi);

} // namespace platform
