// Paths: a file's directory, the program's own, and a name added to one.
#ifndef KIVVET_BASE_PATHS_H
#define KIVVET_BASE_PATHS_H

#include <stddef.h>

#include "platform/win32.h"

// The directory part of a path, cut at its last separator ("\" or "/")
// without mistaking the second byte of a double-byte character for one.
// A drive root keeps its backslash ("C:\"). Returns 0 when the path names
// no directory (a bare program name).
int directoryOf(const char* path, char* directory, size_t size);

// The directory of the running program.
int programDirectory(char* directory, size_t size);

// Appends "\" and name to a directory; 0 when it would not fit.
int appendPath(char* path, size_t size, const char* name);

#endif
