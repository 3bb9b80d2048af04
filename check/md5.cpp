// MD5 after RFC 1321. Words are read and written little-endian byte by byte,
// so the result does not depend on the byte order or word size of the machine.
#include "check/md5.h"

#include <string.h>

namespace {

// Left-rotation amounts, four per round, used in turn.
const unsigned int ROTATIONS[4][4] = {
    {7, 12, 17, 22},
    {5, 9, 14, 20},
    {4, 11, 16, 23},
    {6, 10, 15, 21},
};

// Additive constants: the integer part of 2^32 * |sin(i + 1)|.
const uint32_t SINE_TABLE[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

uint32_t readWordLE(const unsigned char* bytes) {
  return (uint32_t)bytes[0] | ((uint32_t)bytes[1] << 8) | ((uint32_t)bytes[2] << 16) |
         ((uint32_t)bytes[3] << 24);
}

void writeWordLE(unsigned char* bytes, uint32_t word) {
  bytes[0] = (unsigned char)(word & 0xff);
  bytes[1] = (unsigned char)((word >> 8) & 0xff);
  bytes[2] = (unsigned char)((word >> 16) & 0xff);
  bytes[3] = (unsigned char)((word >> 24) & 0xff);
}

uint32_t rotateLeft(uint32_t value, unsigned int amount) {
  return (value << amount) | (value >> (32 - amount));
}

// Mixes one 64-byte block into the state.
void processBlock(uint32_t state[4], const unsigned char block[64]) {
  uint32_t words[16];
  for (unsigned int i = 0; i < 16; i++) {
    words[i] = readWordLE(block + 4 * i);
  }

  uint32_t a = state[0];
  uint32_t b = state[1];
  uint32_t c = state[2];
  uint32_t d = state[3];

  for (unsigned int step = 0; step < 64; step++) {
    unsigned int round = step / 16;
    uint32_t mixed;
    unsigned int wordIndex;
    if (round == 0) {
      mixed = (b & c) | (~b & d);
      wordIndex = step;
    } else if (round == 1) {
      mixed = (b & d) | (c & ~d);
      wordIndex = (5 * step + 1) % 16;
    } else if (round == 2) {
      mixed = b ^ c ^ d;
      wordIndex = (3 * step + 5) % 16;
    } else {
      mixed = c ^ (b | ~d);
      wordIndex = (7 * step) % 16;
    }
    uint32_t sum = a + mixed + SINE_TABLE[step] + words[wordIndex];
    uint32_t result = b + rotateLeft(sum, ROTATIONS[round][step % 4]);
    a = d;
    d = c;
    c = b;
    b = result;
  }

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;

  memset(words, 0, sizeof(words));
}

}  // namespace

void md5Init(Md5Context* context) {
  context->state[0] = 0x67452301;
  context->state[1] = 0xefcdab89;
  context->state[2] = 0x98badcfe;
  context->state[3] = 0x10325476;
  context->bitCount[0] = 0;
  context->bitCount[1] = 0;
  memset(context->buffer, 0, sizeof(context->buffer));
}

void md5Update(Md5Context* context, const unsigned char* bytes, unsigned int count) {
  if (count == 0) {
    return;
  }
  unsigned int held = (unsigned int)((context->bitCount[0] >> 3) & 63);

  // Length in bits, kept modulo 2^64 across the two words.
  uint32_t addedBits = (uint32_t)count << 3;
  context->bitCount[0] += addedBits;
  if (context->bitCount[0] < addedBits) {
    context->bitCount[1]++;
  }
  context->bitCount[1] += (uint32_t)count >> 29;

  unsigned int used = 0;
  if (held > 0) {
    unsigned int room = 64 - held;
    if (count < room) {
      memcpy(context->buffer + held, bytes, count);
      return;
    }
    memcpy(context->buffer + held, bytes, room);
    processBlock(context->state, context->buffer);
    used = room;
  }
  while (count - used >= 64) {
    processBlock(context->state, bytes + used);
    used += 64;
  }
  if (used < count) {
    memcpy(context->buffer, bytes + used, count - used);
  }
}

void md5Final(unsigned char digest[16], Md5Context* context) {
  unsigned char lengthBytes[8];
  writeWordLE(lengthBytes, context->bitCount[0]);
  writeWordLE(lengthBytes + 4, context->bitCount[1]);

  // One 0x80 byte, then zeros up to 56 bytes modulo 64, then the length.
  static const unsigned char PADDING[64] = {0x80};
  unsigned int held = (unsigned int)((context->bitCount[0] >> 3) & 63);
  unsigned int padLength = (held < 56) ? (56 - held) : (120 - held);
  md5Update(context, PADDING, padLength);
  md5Update(context, lengthBytes, 8);

  for (unsigned int i = 0; i < 4; i++) {
    writeWordLE(digest + 4 * i, context->state[i]);
  }

  memset(context, 0, sizeof(*context));
}

void md5DigestText(char* out, const unsigned char digest[16]) {
  static const char HEX_DIGITS[] = "0123456789abcdef";
  for (unsigned int i = 0; i < 16; i++) {
    out[2 * i] = HEX_DIGITS[(digest[i] >> 4) & 0x0f];
    out[2 * i + 1] = HEX_DIGITS[digest[i] & 0x0f];
  }
  out[32] = '\0';
}

void apopDigest(char* out, const char* text) {
  Md5Context context;
  unsigned char digest[16];
  const unsigned char* bytes = (const unsigned char*)text;
  size_t remaining = strlen(text);

  md5Init(&context);
  // Fed in slices so that the length always fits md5Update's count.
  while (remaining > 0) {
    unsigned int slice = (remaining > 0x10000000u) ? 0x10000000u : (unsigned int)remaining;
    md5Update(&context, bytes, slice);
    bytes += slice;
    remaining -= slice;
  }
  md5Final(digest, &context);
  md5DigestText(out, digest);
}
