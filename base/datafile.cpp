#include "base/datafile.h"

#include <string.h>

#include "base/text.h"

namespace {

const int FILE_RETRIES = 5;
const DWORD FILE_RETRY_MS = 100;

}  // namespace

HANDLE openDataFile(const char* name, DWORD access, DWORD disposition) {
  for (int attempt = 0;; attempt++) {
    HANDLE file =
        CreateFileW(wide(name).text, access, 0, NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION ||
        attempt == FILE_RETRIES)
      return file;
    Sleep(FILE_RETRY_MS);
  }
}

// The file is opened without truncating it, so a longer file keeps its
// tail, and written in one piece.
int writeDataFile(const char* name, const void* image, DWORD size) {
  int existed = GetFileAttributesW(wide(name).text) != INVALID_FILE_ATTRIBUTES;
  HANDLE file = openDataFile(name, GENERIC_WRITE, OPEN_ALWAYS);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  BOOL ok = WriteFile(file, image, size, &written, NULL) && written == size;
  CloseHandle(file);
  if (!ok && !existed) DeleteFileW(wide(name).text);
  return ok;
}

// Eight bytes at a time: the known-UID file is 32 KB.
void scrambleBytes(void* bytes, DWORD length) {
  unsigned char* p = (unsigned char*)bytes;
  DWORD i = 0;
  for (; i + 8 <= length; i += 8) {
    unsigned long long word;
    memcpy(&word, p + i, 8);
    word = ~word;
    memcpy(p + i, &word, 8);
  }
  for (; i < length; i++) p[i] = (unsigned char)~p[i];
}
