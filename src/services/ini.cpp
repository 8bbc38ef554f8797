#include "services/ini.h"

#include "platform/ansi.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "services/storage_notice.h"

#include <QByteArray>
#include <QStringDecoder>

QString IniPath(const QString &baseName)
{
    // Built anew on every call: nothing about the file is cached.
    return platform::programFolder() + u'/' + baseName + QStringLiteral(".ini");
}

QString ReadIniValue(const QString &baseName, const QString &section, const QString &key)
{
    constexpr DWORD BufferSize = 255;
    QByteArray buffer(BufferSize, '\0');
    const QByteArray path = platform::toAnsi(IniPath(baseName));
    const DWORD n = GetPrivateProfileStringA(platform::toAnsi(section).constData(),
                                             platform::toAnsi(key).constData(), "", buffer.data(),
                                             BufferSize, path.constData());
    // A file that is there but not read (a named pipe, a device, a huge file)
    // reads as the defaults; the user hears of it once.
    if (const QString problem = platform::lastProfileProblem(); !problem.isEmpty())
        StorageNotice::report(StorageNotice::Problem::NotRead, IniPath(baseName), problem);
    // A value cut in the middle of a multi-byte character loses that
    // character rather than showing half of it.
    QStringDecoder decode(QStringDecoder::System);
    return decode(QByteArrayView(buffer.constData(), static_cast<qsizetype>(n)));
}

void WriteIniValue(const QString &baseName, const QString &section, const QString &key,
                   const QString &value)
{
    const QByteArray path = platform::toAnsi(IniPath(baseName));
    const BOOL saved = WritePrivateProfileStringA(
        platform::toAnsi(section).constData(), platform::toAnsi(key).constData(),
        platform::toAnsi(value).constData(), path.constData());
    if (const QString problem = platform::lastProfileProblem(); !saved && !problem.isEmpty())
        StorageNotice::report(StorageNotice::Problem::NotSaved, IniPath(baseName), problem);
}
