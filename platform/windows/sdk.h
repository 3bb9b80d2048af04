// The real SDK, in the order its headers want. Windows Sockets 2.2
// (winsock2.h, ws2tcpip.h, ws2_32): IPv6 and the overlapped lookup, which
// Windows has from version 8 and the program needs from Windows 10 on.
#ifndef KIVVET_PLATFORM_WINDOWS_SDK_H
#define KIVVET_PLATFORM_WINDOWS_SDK_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>
#include <commdlg.h>
#include <mmsystem.h>
#include <stdlib.h>
// TLS: SChannel through SSPI, and the certificate chain checks.
#define SECURITY_WIN32
// The chain request's URL retrieval time-out lies among these fields.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include <wincrypt.h>
#include <security.h>
// SCH_CREDENTIALS and its TLS_PARAMETERS (Windows 10 1809 and later).
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include <schannel.h>
// clang-format on

// MinGW-w64's headers before version 11 leave the cancel out (the import
// library has it); the same declaration again is harmless.
extern "C" WINSOCK_API_LINKAGE int WSAAPI GetAddrInfoExCancel(LPHANDLE handle);

// The SSL policy's flag for "revocation not checked" lives in wininet.h,
// which the program does not otherwise need.
#ifndef SECURITY_FLAG_IGNORE_REVOCATION
#define SECURITY_FLAG_IGNORE_REVOCATION 0x00000080
#endif

// Declared in shobjidl.h, which brings the whole of COM's interfaces with
// it; the program needs this one call of shell32 (Windows 7 and later).
extern "C" __declspec(dllimport) HRESULT WINAPI SetCurrentProcessExplicitAppUserModelID(PCWSTR id);

// MinGW-w64 spells this size through a union-member macro that its own
// headers leave undefined; the fields are reachable directly.
#undef PROPSHEETHEADERW_V2_SIZE
#define PROPSHEETHEADERW_V2_SIZE CCSIZEOF_STRUCT(PROPSHEETHEADERW, hbmHeader)

#endif
