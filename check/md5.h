// MD5 message digest (RFC 1321) and its text form for the APOP login.
#ifndef KIVVET_CHECK_MD5_H
#define KIVVET_CHECK_MD5_H

#include <stdint.h>

// State of one running MD5 computation.
struct Md5Context {
  uint32_t state[4];         // A, B, C, D
  uint32_t bitCount[2];      // message length in bits: [0] low word, [1] high word
  unsigned char buffer[64];  // bytes of the block not yet complete
};

// Starts a computation: initial state, length 0.
void md5Init(Md5Context* context);

// Feeds count bytes.
void md5Update(Md5Context* context, const unsigned char* bytes, unsigned int count);

// Appends padding and length, writes the 16-byte digest, then zeroes the whole context.
void md5Final(unsigned char digest[16], Md5Context* context);

// Writes the digest as 32 lowercase hex digits and a NUL into out (33 bytes).
void md5DigestText(char* out, const unsigned char digest[16]);

// out (33 bytes) receives the digest text of the NUL-terminated text.
void apopDigest(char* out, const char* text);

#endif
