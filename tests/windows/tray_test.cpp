// The tray icon as the program drives it: the program's record in its first
// form (cbSize 88, as the program fills it), added for a real hidden window,
// its tip changed, then removed, through the program's Shell_NotifyIconA to
// the shell. Needs a display: the test runs under xvfb-run.

#include "platform/shell.h"

#include "platform/win/win_shell.h"

#include "check.h"

#include <cstring>

namespace {

// The tip as the program stores it: the text, a NUL, blanks to the end.
void setTip(NOTIFYICONDATA &data, const char *text)
{
    std::memset(data.szTip, ' ', sizeof(data.szTip));
    const size_t length = std::strlen(text);
    std::memcpy(data.szTip, text, length);
    data.szTip[length] = '\0';
}

} // namespace

int main()
{
    WNDCLASSA windowClass;
    std::memset(&windowClass, 0, sizeof(windowClass));
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "VanteloTrayTest";
    CHECK(RegisterClassA(&windowClass) != 0);
    const HWND window =
        CreateWindowExA(0, "VanteloTrayTest", "Vantelo BETA", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                        nullptr, nullptr, windowClass.hInstance, nullptr);
    CHECK(window != nullptr);
    CHECK(!IsWindowVisible(window));

    NOTIFYICONDATA data;
    std::memset(&data, 0, sizeof(data));
    data.cbSize = 88;
    data.hWnd = window;
    data.uID = 1;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_MOUSEMOVE;
    data.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(32512)); // the application icon
    setTip(data, "Vantelo BETA ");
    CHECK(Shell_NotifyIconA(NIM_ADD, &data) != FALSE);
    CHECK_EQ(data.cbSize, 88);
    // The icon's mouse reports reach the window as its callback message.
    CHECK_EQ(platform::tray::callbackMessage(window, 1), WM_MOUSEMOVE);
    CHECK_EQ(platform::tray::callbackMouseMessage(window, WM_MOUSEMOVE, 1, WM_LBUTTONDBLCLK),
             WM_LBUTTONDBLCLK);
    CHECK_EQ(platform::tray::callbackMouseMessage(window, WM_MOUSEMOVE, 2, WM_RBUTTONUP), 0);
    CHECK_EQ(platform::tray::callbackMouseMessage(nullptr, WM_MOUSEMOVE, 1, WM_RBUTTONUP), 0);

    data.uFlags = NIF_TIP;
    setTip(data, "Vantelo BETA - Connected.00:01:23");
    CHECK(Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE);

    // An icon the tray does not hold cannot be changed or removed: so the
    // answers above are the tray's, not a call that accepts anything.
    NOTIFYICONDATA other = data;
    other.uID = 2;
    CHECK(Shell_NotifyIconA(NIM_MODIFY, &other) == FALSE);

    CHECK(Shell_NotifyIconA(NIM_DELETE, &data) != FALSE);
    CHECK_EQ(platform::tray::callbackMouseMessage(window, WM_MOUSEMOVE, 1, WM_RBUTTONUP), 0);
    CHECK(Shell_NotifyIconA(NIM_DELETE, &data) == FALSE);
    CHECK(Shell_NotifyIconA(NIM_MODIFY, &data) == FALSE);

    DestroyWindow(window);

    // A program that is not there is not started (WinExec's failures are
    // the values up to 31).
    CHECK(WinExec("vantelo-no-such-program.exe", SW_HIDE) <= 31);
    return checkSummary("tray_test");
}
