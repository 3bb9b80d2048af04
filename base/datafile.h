// The two data files' shared handling: KivvetLE.cfg and KivvetLE.log are
// both opened without sharing, written whole from their start, and stored
// complemented.
#ifndef KIVVET_BASE_DATAFILE_H
#define KIVVET_BASE_DATAFILE_H

#include "platform/win32.h"

// Opens one of the program's two files, without sharing. Another program
// (a virus scanner, a backup) may hold it for a moment: a few short tries
// before it counts as unavailable.
HANDLE openDataFile(const char* name, DWORD access, DWORD disposition);
// Writes a whole file image from its start. A file this write created and
// could not fill is removed again, so that no half-written file is left
// to be read as the real one. Returns 1 when every byte was written.
int writeDataFile(const char* name, const void* image, DWORD size);
// Replaces each byte by its complement, in place; its own inverse.
void scrambleBytes(void* bytes, DWORD length);

#endif
