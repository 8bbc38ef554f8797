#include "platform/ansi.h"

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
