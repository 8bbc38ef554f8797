#define VANTELO_SHELL_IMPLEMENTATION
#include "platform/shell.h"

// The shell on Windows: the tray icon record handed to shell32 in its first
// form, and WinExec with Windows 95's "Start.exe ADDRESS" kept working where
// there is no Start.exe. <shellapi.h> is not included (it declares the later
// record under the same name): the two shell32 entry points are declared here.

#include "platform/win/win_shell.h"

#include <cstring>
#include <vector>

extern "C" __declspec(dllimport) BOOL WINAPI Shell_NotifyIconA(DWORD dwMessage, void *lpData);
extern "C" __declspec(dllimport) HINSTANCE WINAPI
    ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                  LPCSTR lpDirectory, INT nShowCmd);

namespace {

struct Icon
{
    HWND window;
    UINT id;
    UINT callbackMessage; // 0: the icon reports nothing
};

std::vector<Icon> &icons()
{
    static std::vector<Icon> list;
    return list;
}

Icon *findIcon(HWND window, UINT id)
{
    for (Icon &icon : icons()) {
        if (icon.window == window && icon.id == id)
            return &icon;
    }
    return nullptr;
}

bool isMouseMessage(LPARAM lParam)
{
    const auto value = static_cast<ULONG_PTR>(lParam);
    return value >= WM_MOUSEFIRST && value <= WM_MBUTTONDBLCLK;
}

// "start" or "start.exe", any letter case, as the first word of the line.
const char *startCommandArgument(const char *line)
{
    while (*line == ' ' || *line == '\t')
        ++line;
    for (const char *name : {"start.exe", "start"}) {
        const std::size_t length = std::strlen(name);
        if (_strnicmp(line, name, length) == 0 && (line[length] == ' ' || line[length] == '\t')) {
            const char *argument = line + length;
            while (*argument == ' ' || *argument == '\t')
                ++argument;
            return argument;
        }
    }
    return nullptr;
}

} // namespace

namespace platform::tray {

UINT callbackMouseMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == 0 || !isMouseMessage(lParam))
        return 0;
    const Icon *icon = findIcon(window, static_cast<UINT>(wParam));
    if (!icon || icon->callbackMessage != message)
        return 0;
    return static_cast<UINT>(lParam);
}

UINT callbackMessage(HWND window, UINT id)
{
    const Icon *icon = findIcon(window, id);
    return icon ? icon->callbackMessage : 0;
}

} // namespace platform::tray

BOOL Shell_NotifyIconA(DWORD dwMessage, NOTIFYICONDATA *lpData)
{
    if (!lpData)
        return FALSE;
    // The shell takes the first form by its size on this system, whatever
    // size the caller wrote.
    NOTIFYICONDATA record = *lpData;
    record.cbSize = sizeof(NOTIFYICONDATA);
    const BOOL done = Shell_NotifyIconA(dwMessage, static_cast<void *>(&record));
    if (!done)
        return FALSE;

    Icon *icon = findIcon(record.hWnd, record.uID);
    switch (dwMessage) {
    case NIM_ADD:
        if (!icon) {
            icons().push_back({record.hWnd, record.uID, 0});
            icon = &icons().back();
        }
        icon->callbackMessage = (record.uFlags & NIF_MESSAGE) ? record.uCallbackMessage : 0;
        break;
    case NIM_MODIFY:
        if (icon && (record.uFlags & NIF_MESSAGE))
            icon->callbackMessage = record.uCallbackMessage;
        break;
    case NIM_DELETE:
        if (icon)
            icons().erase(icons().begin() + (icon - icons().data()));
        break;
    default:
        break;
    }
    return TRUE;
}

UINT platform::winExec(LPCSTR lpCmdLine, UINT uCmdShow)
{
    if (!lpCmdLine)
        return ERROR_FILE_NOT_FOUND;
    if (const char *address = startCommandArgument(lpCmdLine)) {
        if (*address == '\0')
            return ERROR_FILE_NOT_FOUND;
        // The show command was Start.exe's own (a console window, usually
        // hidden); what it opens shows normally. Values above 32 mean the
        // shell opened it; WinExec's success is above 31.
        const auto result = reinterpret_cast<INT_PTR>(
            ShellExecuteA(nullptr, "open", address, nullptr, nullptr, SW_SHOWNORMAL));
        return result > 32 ? static_cast<UINT>(result) : ERROR_FILE_NOT_FOUND;
    }
    return WinExec(lpCmdLine, uCmdShow);
}
