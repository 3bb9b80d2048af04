// Dialogs and their controls, the help tooltip, property sheets, dropped
// and chosen files and the title picture's drawing, as standin_dialogs.cpp
// implements them.
#ifndef KIVVET_PLATFORM_STANDIN_WIN32_DIALOGS_H
#define KIVVET_PLATFORM_STANDIN_WIN32_DIALOGS_H

#include "platform/standin/win32_core.h"

// ---- dialogs ------------------------------------------------------------------

typedef intptr_t INT_PTR;
typedef uintptr_t DWORD_PTR;
typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

#define WM_PAINT 0x000F
#define WM_CTLCOLORSTATIC 0x0138
#define NULL_BRUSH 5
#define WM_NOTIFY 0x004E
#define WM_HELP 0x0053
#define WM_INITDIALOG 0x0110
#define WM_DROPFILES 0x0233
#define BN_CLICKED 0
#define BM_GETCHECK 0x00F0
#define CB_ADDSTRING 0x0143
#define CB_GETCURSEL 0x0147
#define CB_RESETCONTENT 0x014B
#define CB_SETCURSEL 0x014E
#define CB_ERR (-1)
#define CBN_SELCHANGE 1
#define BM_SETCHECK 0x00F1
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#define UDM_SETRANGE (WM_USER + 101)
#define UDM_SETPOS (WM_USER + 103)
#define UDM_SETRANGE32 (WM_USER + 111)
#define UDM_SETPOS32 (WM_USER + 113)
#define UDM_GETPOS32 (WM_USER + 114)
#define GWL_ID (-12)
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)MAKELONG(l, h))

typedef struct tagNMHDR {
  HWND hwndFrom;
  UINT_PTR idFrom;
  UINT code;
} NMHDR;

typedef struct tagHELPINFO {
  UINT cbSize;
  int iContextType;
  int iCtrlId;
  HANDLE hItemHandle;
  DWORD_PTR dwContextId;
  POINT MousePos;
} HELPINFO, *LPHELPINFO;
#define HELPINFO_WINDOW 0x0001

HWND GetDlgItem(HWND dialog, int id);
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int size);
BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned);
UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned);
LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL EndDialog(HWND dialog, INT_PTR result);
LONG GetWindowLongW(HWND window, int index);
// A dialog's answer to a notification (DWLP_MSGRESULT).
#define DWLP_MSGRESULT 0
LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value);
INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM param);
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int size);

HWND GetParent(HWND window);
BOOL IsWindow(HWND window);
BOOL GetWindowRect(HWND window, RECT* rect);
#define SWP_NOSIZE 0x0001u
#define SWP_NOMOVE 0x0002u
#define SWP_NOZORDER 0x0004u
#define SWP_NOACTIVATE 0x0010u
BOOL SetWindowPos(HWND window, HWND after, int x, int y, int width, int height, UINT flags);

// ---- tooltips (the help popup) ------------------------------------------------

#define TOOLTIPS_CLASSW u"tooltips_class32"
#define WS_EX_TOPMOST 0x00000008u
#define TTS_ALWAYSTIP 0x01u
#define TTS_NOPREFIX 0x02u
#define TTF_TRACK 0x0020u
#define TTF_ABSOLUTE 0x0080u
#define TTM_TRACKACTIVATE (WM_USER + 17)
#define TTM_TRACKPOSITION (WM_USER + 18)
#define TTM_SETMAXTIPWIDTH (WM_USER + 24)
#define TTM_ADDTOOLW (WM_USER + 4)
#define TTM_DELTOOLW (WM_USER + 5)

typedef struct tagTOOLINFOW {
  UINT cbSize;
  UINT uFlags;
  HWND hwnd;
  UINT_PTR uId;
  RECT rect;
  HINSTANCE hinst;
  LPWSTR lpszText;
  LPARAM lParam;
  void* lpReserved;
} TOOLINFOW;
// Common controls 5 take the first two sizes only; 6 all three.
#define TTTOOLINFOW_V1_SIZE offsetof(TOOLINFOW, lParam)
#define TTTOOLINFOW_V2_SIZE offsetof(TOOLINFOW, lpReserved)

// ---- property sheets --------------------------------------------------------------

typedef struct _PSP* HPROPSHEETPAGE;
typedef int(CALLBACK* PFNPROPSHEETCALLBACK)(HWND, UINT, LPARAM);
typedef UINT(CALLBACK* LPFNPSPCALLBACKW)(HWND, UINT, struct _PROPSHEETPAGEW*);

#define PSP_DEFAULT 0x00000000u
#define PSH_USEICONID 0x00000004u
#define PSH_NOAPPLYNOW 0x00000080u
#define PSH_USECALLBACK 0x00000100u
#define PSCB_INITIALIZED 1
#define PSN_FIRST (0U - 200U)
#define PSN_APPLY (PSN_FIRST - 2)
#define PSNRET_NOERROR 0
#define PSNRET_INVALID 1
#define PSN_QUERYCANCEL (PSN_FIRST - 9)

typedef struct _PROPSHEETPAGEW {
  DWORD dwSize;
  DWORD dwFlags;
  HINSTANCE hInstance;
  union {
    LPCWSTR pszTemplate;
    const void* pResource;
  };
  union {
    HICON hIcon;
    LPCWSTR pszIcon;
  };
  LPCWSTR pszTitle;
  DLGPROC pfnDlgProc;
  LPARAM lParam;
  LPFNPSPCALLBACKW pfnCallback;
  UINT* pcRefParent;
  LPCWSTR pszHeaderTitle;
  LPCWSTR pszHeaderSubTitle;
} PROPSHEETPAGEW;

typedef struct _PROPSHEETHEADERW {
  DWORD dwSize;
  DWORD dwFlags;
  HWND hwndParent;
  HINSTANCE hInstance;
  union {
    HICON hIcon;
    LPCWSTR pszIcon;
  };
  LPCWSTR pszCaption;
  UINT nPages;
  union {
    UINT nStartPage;
    LPCWSTR pStartPage;
  };
  union {
    const PROPSHEETPAGEW* ppsp;
    HPROPSHEETPAGE* phpage;
  };
  PFNPROPSHEETCALLBACK pfnCallback;
  union {
    void* hbmWatermark;
    LPCWSTR pszbmWatermark;
  };
  void* hplWatermark;
  union {
    void* hbmHeader;
    LPCWSTR pszbmHeader;
  };
} PROPSHEETHEADERW;

#define PROPSHEETPAGEW_V1_SIZE (offsetof(PROPSHEETPAGEW, pcRefParent) + sizeof(UINT*))
#define PROPSHEETHEADERW_V1_SIZE \
  (offsetof(PROPSHEETHEADERW, pfnCallback) + sizeof(PFNPROPSHEETCALLBACK))
#define PROPSHEETPAGEW_V2_SIZE (offsetof(PROPSHEETPAGEW, pszHeaderSubTitle) + sizeof(LPCWSTR))
#define PROPSHEETHEADERW_V2_SIZE (offsetof(PROPSHEETHEADERW, pszbmHeader) + sizeof(LPCWSTR))

HPROPSHEETPAGE CreatePropertySheetPageW(const PROPSHEETPAGEW* page);
INT_PTR PropertySheetW(const PROPSHEETHEADERW* header);

// ---- files dropped and chosen ------------------------------------------------------

typedef struct HDROP__* HDROP;
void DragAcceptFiles(HWND window, BOOL accept);
UINT DragQueryFileW(HDROP drop, UINT index, LPWSTR file, UINT size);
void DragFinish(HDROP drop);

#define OFN_HIDEREADONLY 0x00000004u
#define OFN_NOCHANGEDIR 0x00000008u
#define OFN_FILEMUSTEXIST 0x00001000u

typedef struct tagOFNW {
  DWORD lStructSize;
  HWND hwndOwner;
  HINSTANCE hInstance;
  LPCWSTR lpstrFilter;
  LPWSTR lpstrCustomFilter;
  DWORD nMaxCustFilter;
  DWORD nFilterIndex;
  LPWSTR lpstrFile;
  DWORD nMaxFile;
  LPWSTR lpstrFileTitle;
  DWORD nMaxFileTitle;
  LPCWSTR lpstrInitialDir;
  LPCWSTR lpstrTitle;
  DWORD Flags;
  WORD nFileOffset;
  WORD nFileExtension;
  LPCWSTR lpstrDefExt;
  LPARAM lCustData;
  void* lpfnHook;
  LPCWSTR lpTemplateName;
  void* pvReserved;
  DWORD dwReserved;
  DWORD FlagsEx;
} OPENFILENAMEW;

#define OPENFILENAME_SIZE_VERSION_400W (offsetof(OPENFILENAMEW, lpTemplateName) + sizeof(LPCWSTR))
BOOL GetOpenFileNameW(OPENFILENAMEW* dialog);

// ---- drawing (the title picture) ------------------------------------------------

typedef struct HDC__* HDC;
typedef struct HBITMAP__* HBITMAP;
typedef void* HGDIOBJ;
#define SRCCOPY 0x00CC0020u
#define BLACKONWHITE 1
#define HALFTONE 4
#define LOGPIXELSX 88
#define LOGPIXELSY 90
HBITMAP LoadBitmapW(HINSTANCE instance, LPCWSTR name);
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
HDC CreateCompatibleDC(HDC dc);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL BitBlt(HDC target, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
            DWORD operation);
BOOL StretchBlt(HDC target, int x, int y, int width, int height, HDC source, int sourceX,
                int sourceY, int sourceWidth, int sourceHeight, DWORD operation);
int SetStretchBltMode(HDC dc, int mode);
BOOL SetBrushOrgEx(HDC dc, int x, int y, POINT* previous);
int GetDeviceCaps(HDC dc, int index);
BOOL DeleteDC(HDC dc);
BOOL DeleteObject(HGDIOBJ object);
HGDIOBJ GetStockObject(int object);

// ---- icons made from pixels (the count on the tray icon) ---------------------------

#define BI_RGB 0
#define DIB_RGB_COLORS 0
typedef struct tagBITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;  // negative: the rows run top-down
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
} BITMAPINFOHEADER;
typedef struct tagRGBQUAD {
  BYTE rgbBlue, rgbGreen, rgbRed, rgbReserved;
} RGBQUAD;
typedef struct tagBITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
} BITMAPINFO;
typedef struct _ICONINFO {
  BOOL fIcon;
  DWORD xHotspot;
  DWORD yHotspot;
  HBITMAP hbmMask;
  HBITMAP hbmColor;  // NULL for a two-colour icon: its mask is twice as high
} ICONINFO;
// The stand-in's bitmaps are 32 bits a pixel, or 1 for a mask; GetDIBits
// and CreateDIBSection know only 32-bit BI_RGB.
BOOL GetIconInfo(HICON icon, ICONINFO* info);
int GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, void* bits, BITMAPINFO* info,
              UINT usage);
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD offset);
HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits);
HICON CreateIconIndirect(ICONINFO* info);
BOOL DestroyIcon(HICON icon);

#endif
