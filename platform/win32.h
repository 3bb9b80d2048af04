// The program's one door to the platform. Everything outside platform/
// includes this header and nothing else of the system: on Windows it is
// the SDK itself; on Linux it is the headless stand-in that the unit tests
// drive (virtual clock, recorded tray and menu calls, scripted answers).
#ifndef KIVVET_PLATFORM_WIN32_H
#define KIVVET_PLATFORM_WIN32_H

#if defined(_WIN32)
#include "platform/windows/sdk.h"
#else
#include "platform/standin/win32_standin.h"
#endif

#endif
