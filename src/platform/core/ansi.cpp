#include "platform/ansi.h"

#include <algorithm>
#include <cstring>

namespace platform {

QByteArray toAnsi(const QString &text)
{
    return text.toLocal8Bit();
}

QString fromAnsiField(const char *field, int size)
{
    return QString::fromLocal8Bit(field, size);
}

QString fieldText(const char *field, int size)
{
    const qsizetype length = size > 0 ? qstrnlen(field, static_cast<size_t>(size)) : 0;
    // ASCII reads the same in every ANSI code page: it needs no decoder, and
    // phonebook names, listed every second, are ASCII in practice.
    const auto ascii = [](char c) { return static_cast<unsigned char>(c) < 0x80; };
    if (std::all_of(field, field + length, ascii))
        return QString::fromLatin1(field, length);
    return QString::fromLocal8Bit(field, length);
}

bool copyToField(char *field, int size, const QByteArray &ansi)
{
    if (size <= 0)
        return false;
    // A text holding a NUL ends there, as it would for the system's copy.
    const qsizetype length = qstrnlen(ansi.constData(), ansi.size());
    if (length + 1 > size) {
        field[0] = '\0';
        return false;
    }
    std::memcpy(field, ansi.constData(), length);
    field[length] = '\0';
    return true;
}

} // namespace platform
