// The trace file is held open for the program's life and shared for
// reading, so that it can be looked at while the program runs.
#include "base/trace.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "base/text.h"

namespace {

const char TRACE_FILE_NAME[] = "KivvetLE-trace.txt";
const DWORD TRACE_LIMIT_BYTES = 1024 * 1024;

struct Trace {
  HANDLE file;
  DWORD bytes;  // written since the file was made
  DWORD startTick;
  WCHAR path[MAX_PATH + 32];
};
Trace trace = {INVALID_HANDLE_VALUE, 0, 0, {0}};

HANDLE createTraceFile() {
  return CreateFileW(trace.path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, NULL);
}

// The newer half of the file, from the start of a line, becomes the file.
void dropOlderHalf() {
  CloseHandle(trace.file);
  trace.file = INVALID_HANDLE_VALUE;
  char* text = (char*)LocalAlloc(LMEM_ZEROINIT, trace.bytes);
  if (text == NULL) return;
  DWORD got = 0;
  HANDLE file = CreateFileW(trace.path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    if (!ReadFile(file, text, trace.bytes, &got, NULL)) got = 0;
    CloseHandle(file);
  }
  const char* newer = (const char*)memchr(text + got / 2, '\n', got - got / 2);
  DWORD kept = newer != NULL ? (DWORD)(text + got - newer - 1) : 0;
  trace.file = createTraceFile();
  DWORD written = 0;
  if (trace.file != INVALID_HANDLE_VALUE && kept > 0)
    WriteFile(trace.file, newer + 1, kept, &written, NULL);
  trace.bytes = written;
  LocalFree(text);
}

}  // namespace

void startTrace() {
  DWORD length = GetCurrentDirectoryW(MAX_PATH, trace.path);
  if (length == 0 || length >= MAX_PATH) return;
  if (trace.path[length - 1] != L'\\') trace.path[length++] = L'\\';
  toWide(TRACE_FILE_NAME, trace.path + length, MAX_PATH + 32 - length);
  trace.file = createTraceFile();
  trace.bytes = 0;
  trace.startTick = GetTickCount();
}

namespace {
int tracedSlot = -1;
}  // namespace

void traceMailbox(int slot) { tracedSlot = slot; }

void traceLine(const char* format, ...) {
  if (trace.file == INVALID_HANDLE_VALUE) return;
  char line[600];
  DWORD ms = GetTickCount() - trace.startTick;
  int used = snprintf(line, sizeof line, "%7lu.%03lu ", (unsigned long)(ms / 1000),
                      (unsigned long)(ms % 1000));
  if (tracedSlot >= 0) used += snprintf(line + used, sizeof line - used, "[%d] ", tracedSlot + 1);
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(line + used, sizeof line - used - 2, format, arguments);
  va_end(arguments);
  // A reply's own CR LF ends the line once, and a cut one is ended too.
  size_t length = strcspn(line, "\r\n");
  memcpy(line + length, "\r\n", 2);
  length += 2;
  if (trace.bytes + length > TRACE_LIMIT_BYTES) dropOlderHalf();
  DWORD written = 0;
  if (trace.file != INVALID_HANDLE_VALUE)
    WriteFile(trace.file, line, (DWORD)length, &written, NULL);
  trace.bytes += written;
}

int tracing() { return trace.file != INVALID_HANDLE_VALUE; }

void endTrace() {
  if (trace.file != INVALID_HANDLE_VALUE) CloseHandle(trace.file);
  trace.file = INVALID_HANDLE_VALUE;
}
