#pragma once

// The open-file dialog and message boxes.

#include "platform/ptr32.h"
#include "platform/wintypes.h"

#include <cstddef>

// The open-file record without the later extension fields (the form of
// Windows 95 / NT 4: 76 bytes where pointers are 4 bytes wide; on 64-bit
// Windows the same fields in the system's 64-bit layout). The system's
// <commdlg.h> is never included with this header: it declares the longer
// record under the same name.
RECORD_PACK_BEGIN
struct OPENFILENAME
{
    DWORD lStructSize;
    HWND hwndOwner;
    HINSTANCE hInstance;
    Ptr32<const char> lpstrFilter;
    Ptr32<char> lpstrCustomFilter;
    DWORD nMaxCustFilter;
    DWORD nFilterIndex;
    Ptr32<char> lpstrFile;
    DWORD nMaxFile;
    Ptr32<char> lpstrFileTitle;
    DWORD nMaxFileTitle;
    Ptr32<const char> lpstrInitialDir;
    Ptr32<const char> lpstrTitle;
    DWORD Flags;
    WORD nFileOffset;
    WORD nFileExtension;
    Ptr32<const char> lpstrDefExt;
    LPARAM lCustData;
    Ptr32<const void> lpfnHook;
    Ptr32<const char> lpTemplateName;
};
RECORD_PACK_END
static_assert(sizeof(OPENFILENAME) == RECORD_LAYOUT(136, 76));
static_assert(offsetof(OPENFILENAME, lpstrFile) == RECORD_LAYOUT(48, 28));
static_assert(offsetof(OPENFILENAME, Flags) == RECORD_LAYOUT(96, 52));
static_assert(offsetof(OPENFILENAME, nFileOffset) == RECORD_LAYOUT(100, 56));
static_assert(offsetof(OPENFILENAME, lpTemplateName) == RECORD_LAYOUT(128, 72));

inline constexpr DWORD OFN_HIDEREADONLY = 0x0004;
inline constexpr DWORD OFN_FILEMUSTEXIST = 0x1000;

#ifdef _WIN32
// The system's own (comdlg32), given the record above.
extern "C" __declspec(dllimport) BOOL WINAPI GetOpenFileNameA(OPENFILENAME *lpofn);
// MessageBoxA and its constants come from <windows.h>.
#else
// Shows the "Open" dialog, modal to hwndOwner. lpstrFilter holds pairs of a
// display name and a pattern, each NUL-terminated, the list ending with two
// NULs. Returns nonzero with the chosen path in lpstrFile, or zero when the
// user cancels or the path does not fit nMaxFile.
BOOL GetOpenFileNameA(OPENFILENAME *lpofn);

inline constexpr UINT MB_OK = 0x0000;
inline constexpr UINT MB_ICONINFORMATION = 0x0040;
inline constexpr int IDOK = 1;

// A modal message box owned by hWnd, with lpCaption as its title. Returns the
// button pressed (IDOK for a box with only an OK button).
int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
#endif
