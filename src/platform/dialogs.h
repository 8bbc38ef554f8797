#pragma once

// The open-file dialog and message boxes.

#include "platform/ptr32.h"
#include "platform/wintypes.h"

#ifdef _WIN32
#include <commdlg.h>
#else
#include <cstddef>

#pragma pack(push, 4)
// The 76-byte form of the open-file record, without the later extension fields.
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
    LONG lCustData;
    DWORD lpfnHook;
    Ptr32<const char> lpTemplateName;
};
#pragma pack(pop)
static_assert(sizeof(OPENFILENAME) == 76);
static_assert(offsetof(OPENFILENAME, lpstrFile) == 28);
static_assert(offsetof(OPENFILENAME, Flags) == 52);
static_assert(offsetof(OPENFILENAME, nFileOffset) == 56);
static_assert(offsetof(OPENFILENAME, lpTemplateName) == 72);

inline constexpr DWORD OFN_HIDEREADONLY = 0x0004;
inline constexpr DWORD OFN_FILEMUSTEXIST = 0x1000;

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
