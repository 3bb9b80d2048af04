// The UIDs of one whole listing, the answer to a bare UIDL (RFC 1939),
// taken line by line as they arrive. Whatever the listing's length, the
// table ends up as a walk over the same mailbox would have left it: the
// UIDs of the newest UID_SLOTS messages, in message order. The memory is
// fixed: the slots of currentUids, and beside them which message each one
// holds.
//
// The listing is the truth about the mailbox: mail that arrived or went
// since STAT is in it or not, and a server may list its messages in any
// order or with gaps in their numbers. While it runs, the slots form a
// min-heap by message number, so that a message newer than the oldest one
// kept takes that one's place; at the end the texts are put in message
// order.
#include "check/listing.h"

#include <string.h>

#include <algorithm>

#include "base/appstate.h"
#include "check/knownuids.h"

namespace {

DWORD listed;                  // messages listed so far, each number once
DWORD highest;                 // the highest number listed so far
DWORD kept;                    // slots in use, at most UID_SLOTS
DWORD numberOf[UID_SLOTS];     // the message whose UID a slot holds
DWORD heap[UID_SLOTS];         // slots; heap[0] holds the oldest message kept
DWORD placeNumber[UID_SLOTS];  // after finishListing: the message at each place

bool older(DWORD a, DWORD b) { return numberOf[heap[a]] < numberOf[heap[b]]; }

void siftUp(DWORD at) {
  while (at > 0 && older(at, (at - 1) / 2)) {
    std::swap(heap[at], heap[(at - 1) / 2]);
    at = (at - 1) / 2;
  }
}

void siftDown(DWORD at) {
  for (;;) {
    DWORD oldest = at, left = 2 * at + 1, right = left + 1;
    if (left < kept && older(left, oldest)) oldest = left;
    if (right < kept && older(right, oldest)) oldest = right;
    if (oldest == at) return;
    std::swap(heap[at], heap[oldest]);
    at = oldest;
  }
}

int isKept(DWORD number) {
  for (DWORD slot = 0; slot < kept; slot++)
    if (numberOf[slot] == number) return 1;
  return 0;
}

}  // namespace

void beginListing() {
  listed = 0;
  highest = 0;
  kept = 0;
}

// A number the listing repeats (a faulty server) is one message: it is
// kept and counted once. Only a number no higher than one already listed
// can be a repeat, so a listing in order costs no search; one older than
// every message kept is dropped unsearched, counted as a message.
void keepListedUid(DWORD number, const char* uid, size_t length) {
  if (kept == UID_SLOTS && number < numberOf[heap[0]]) {
    listed++;
    return;
  }
  if (number <= highest && isKept(number)) return;
  listed++;
  if (number > highest) highest = number;
  DWORD slot;
  if (kept < UID_SLOTS) {
    slot = kept;
    heap[kept] = slot;
    numberOf[slot] = number;
    kept++;
    siftUp(kept - 1);
  } else {
    slot = heap[0];
    numberOf[slot] = number;
    siftDown(0);
  }
  storeUid(app.currentUids[slot], uid, length);
}

DWORD finishListing() {
  // order[k]: the slot whose text belongs at place k.
  static DWORD order[UID_SLOTS];
  static unsigned char placed[UID_SLOTS];
  for (DWORD k = 0; k < kept; k++) order[k] = k;
  std::stable_sort(order, order + kept, [](DWORD a, DWORD b) { return numberOf[a] < numberOf[b]; });
  for (DWORD k = 0; k < kept; k++) placeNumber[k] = numberOf[order[k]];
  // Each cycle of the permutation is followed once, with one text aside.
  char aside[UID_SLOT_BYTES];
  memset(placed, 0, sizeof placed);
  for (DWORD start = 0; start < kept; start++) {
    if (placed[start] || order[start] == start) continue;
    memcpy(aside, app.currentUids[start], UID_SLOT_BYTES);
    DWORD at = start;
    while (order[at] != start) {
      memcpy(app.currentUids[at], app.currentUids[order[at]], UID_SLOT_BYTES);
      placed[at] = 1;
      at = order[at];
    }
    memcpy(app.currentUids[at], aside, UID_SLOT_BYTES);
    placed[at] = 1;
  }
  return listed;
}

DWORD listedNumberAt(DWORD place) { return place < kept ? placeNumber[place] : 0; }
