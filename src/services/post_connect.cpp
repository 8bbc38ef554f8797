#include "services/post_connect.h"

#include "engine/globals.h"
#include "engine/phonebook.h"
#include "platform/ansi.h"
#include "platform/dialogs.h"
#include "platform/shell.h"
#include "platform/sound.h"
#include "platform/window_handles.h"

#include <QByteArray>

namespace {

constexpr DWORD FileBufferSize = 255;

} // namespace

void LaunchAfterConnect()
{
    if (AppLaunchCount <= 0)
        return;
    for (qsizetype i = 1; i <= AppLaunchCount; ++i) {
        const qsizetype index = i - 1;
        if (index >= static_cast<qsizetype>(AppLaunchList.size()))
            continue;
        // A command line that cannot start is skipped; the next one is tried.
        const QByteArray commandLine = platform::toAnsi(AppLaunchList.at(index));
        WinExec(commandLine.constData(), SW_SHOWNORMAL);
    }
}

void PlayWaveFile(const QString &path)
{
    const QByteArray ansi = platform::toAnsi(path);
    sndPlaySoundA(ansi.constData(), SND_ASYNC | SND_NODEFAULT);
    SoundPlayed = 1;
}

QString BrowseForFile(HWND owner, const QString &title, const QString &filter)
{
    // The pairs already end in NULs; one more ends the list.
    QByteArray filterAnsi = platform::toAnsi(filter);
    filterAnsi.append('\0');
    const QByteArray titleAnsi = platform::toAnsi(title);
    // 255 blanks and the place of the NUL after them.
    QByteArray file(FileBufferSize, ' ');
    file.append('\0');

    OPENFILENAME ofn{};
    ofn.lStructSize = sizeof(OPENFILENAME);
    ofn.hwndOwner = owner;
    ofn.hInstance = platform::instanceHandle();
    ofn.lpstrFilter = filterAnsi.constData();
    ofn.nFilterIndex = 0;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = FileBufferSize;
    ofn.lpstrTitle = titleAnsi.constData();
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;

    if (!GetOpenFileNameA(&ofn))
        return QString();
    return TrimAtNul(platform::fromAnsiField(file.constData(), static_cast<int>(FileBufferSize)));
}
