// The trace a user sends when a check goes wrong: started with -V, the
// program writes KivvetLE-trace.txt beside its settings, a line for every
// change of state, every command sent and the first line of every reply
// (after the login its status word and response code only), each with the
// time since the start. Nothing secret goes in: the callers mask the
// password and the APOP digest, and no line of a listing or a header
// block is traced: a listing (or a search's answer) goes as one line
// telling how many it held. The file stays under a megabyte: past that, its older half goes.
#ifndef KIVVET_BASE_TRACE_H
#define KIVVET_BASE_TRACE_H

#include "platform/win32.h"

// Starts the trace in the current directory, anew.
void startTrace();
// One line of the trace, printf-style; nothing when no trace was asked.
void traceLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The lines that follow are of the mailbox in slot (-1: of none), until
// another is named: each begins with its number, "[1]" for the first.
void traceMailbox(int slot);
// 1 when a trace is being written.
int tracing();
void endTrace();

#endif
