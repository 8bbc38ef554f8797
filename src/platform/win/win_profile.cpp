#define VANTELO_PROFILE_IMPLEMENTATION
#include "platform/profile.h"

// Private-profile files on Windows are the system's. What the program wants
// to hear of is a file it could not use: a settings file that is there but
// cannot be read, or a write the system refused. A missing file reads as the
// defaults without a word.

#include <QString>

namespace {

thread_local DWORD lastProblem = ERROR_SUCCESS;

// Whether the file is there and cannot be read (a folder, or no access).
DWORD unreadable(LPCSTR path)
{
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return ERROR_SUCCESS; // missing: the defaults, as designed
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return ERROR_DIRECTORY;
    const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    CloseHandle(file);
    return ERROR_SUCCESS;
}

} // namespace

namespace platform {

DWORD getPrivateProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                              LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName)
{
    const DWORD n = GetPrivateProfileStringA(lpAppName, lpKeyName, lpDefault, lpReturnedString,
                                             nSize, lpFileName);
    // A value read shows the file was read; only an empty answer may hide a
    // file that could not be.
    lastProblem = (n == 0 && lpFileName) ? unreadable(lpFileName) : ERROR_SUCCESS;
    return n;
}

BOOL writePrivateProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                               LPCSTR lpFileName)
{
    const BOOL saved = WritePrivateProfileStringA(lpAppName, lpKeyName, lpString, lpFileName);
    lastProblem = saved ? ERROR_SUCCESS : GetLastError();
    // Refused for what was asked, not for the file.
    if (lastProblem == ERROR_INVALID_PARAMETER)
        lastProblem = ERROR_SUCCESS;
    return saved;
}

QString lastProfileProblem()
{
    if (lastProblem == ERROR_SUCCESS)
        return QString();
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, lastProblem, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString words = length > 0
                        ? QString::fromWCharArray(text, static_cast<qsizetype>(length)).trimmed()
                        : QStringLiteral("error %1").arg(lastProblem);
    if (text)
        LocalFree(text);
    return words;
}

} // namespace platform
