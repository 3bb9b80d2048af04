// APOP login digest: the server's timestamp from the greeting, followed by the password.
#ifndef KIVVET_CHECK_APOP_H
#define KIVVET_CHECK_APOP_H

// The most bytes read from a greeting line and from a password. A
// greeting is looked at as far as the line buffer holds it (1023 bytes):
// servers put the timestamp at the end of long greetings too.
const unsigned int APOP_GREETING_MAX = 1023;
const unsigned int APOP_PASSWORD_MAX = 127;

// Finds the timestamp in the first length bytes of line (a NUL ends the line earlier):
// from the first '<' to the first '>' after it, both included. Returns 1 with *start and
// *timestampLength set, or 0 (both cleared) when there is no such pair.
int findApopTimestamp(const char* line, unsigned int length, const char** start,
                      unsigned int* timestampLength);

// Writes into out33 the digest text (32 lowercase hex digits and a NUL) of the greeting's
// timestamp followed by the password, and returns 1; returns 0 and leaves out33 alone when
// the greeting has no timestamp. Reads at most APOP_GREETING_MAX bytes of the greeting and
// APOP_PASSWORD_MAX bytes of the password.
int buildApopDigest(char* out33, const char* greetingLine, const char* password);

#endif
