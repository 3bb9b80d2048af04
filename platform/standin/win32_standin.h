// The headless stand-in for the Win32 API on Linux: exactly the types,
// constants and calls that the program and its tests use, with the values
// and the behaviour of the real ones as far as the program can tell. Tests
// steer and observe it through standin_control.h. One header for each of
// the stand-in's files.
//
// Sizes of records follow the same macros as the SDK (NOTIFYICONDATAW_V1_SIZE,
// sizeof), so the program never spells a byte count of its own.
#ifndef KIVVET_PLATFORM_STANDIN_WIN32_STANDIN_H
#define KIVVET_PLATFORM_STANDIN_WIN32_STANDIN_H

#include "platform/standin/win32_core.h"
#include "platform/standin/win32_dialogs.h"
#include "platform/standin/win32_files.h"
#include "platform/standin/win32_net.h"
#include "platform/standin/win32_shell.h"
#include "platform/standin/win32_tls.h"

#endif
