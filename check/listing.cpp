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
#include "check/mailbox.h"

namespace {

bool older(const Listing& l, DWORD a, DWORD b) {
  return l.numberOf[l.heap[a]] < l.numberOf[l.heap[b]];
}

void siftUp(Listing& l, DWORD at) {
  while (at > 0 && older(l, at, (at - 1) / 2)) {
    std::swap(l.heap[at], l.heap[(at - 1) / 2]);
    at = (at - 1) / 2;
  }
}

void siftDown(Listing& l, DWORD at) {
  for (;;) {
    DWORD oldest = at, left = 2 * at + 1, right = left + 1;
    if (left < l.keptSlots && older(l, left, oldest)) oldest = left;
    if (right < l.keptSlots && older(l, right, oldest)) oldest = right;
    if (oldest == at) return;
    std::swap(l.heap[at], l.heap[oldest]);
    at = oldest;
  }
}

int isKept(const Listing& l, DWORD number) {
  for (DWORD slot = 0; slot < l.keptSlots; slot++)
    if (l.numberOf[slot] == number) return 1;
  return 0;
}

}  // namespace

void beginListing(Mailbox* box) {
  box->listing.listedCount = 0;
  box->listing.highestNumber = 0;
  box->listing.keptSlots = 0;
}

// A number the listing repeats (a faulty server) is one message: it is
// kept and counted once. Only a number no higher than one already listed
// can be a repeat, so a listing in order costs no search; one older than
// every message kept is dropped unsearched, counted as a message.
void keepListedUid(Mailbox* box, DWORD number, const char* uid, size_t length) {
  Listing& l = box->listing;
  if (l.keptSlots == UID_SLOTS && number < l.numberOf[l.heap[0]]) {
    l.listedCount++;
    return;
  }
  if (number <= l.highestNumber && isKept(l, number)) return;
  l.listedCount++;
  if (number > l.highestNumber) l.highestNumber = number;
  DWORD slot;
  if (l.keptSlots < UID_SLOTS) {
    slot = l.keptSlots;
    l.heap[l.keptSlots] = slot;
    l.numberOf[slot] = number;
    l.keptSlots++;
    siftUp(l, l.keptSlots - 1);
  } else {
    slot = l.heap[0];
    l.numberOf[slot] = number;
    siftDown(l, 0);
  }
  storeUid(box->currentUids[slot], uid, length);
}

DWORD finishListing(Mailbox* box) {
  Listing& l = box->listing;
  char** currentUids = box->currentUids;
  DWORD kept = l.keptSlots;
  // Scratch of this call: order[k], the slot whose text belongs at place k.
  static DWORD order[UID_SLOTS];
  static unsigned char placed[UID_SLOTS];
  for (DWORD k = 0; k < kept; k++) order[k] = k;
  std::stable_sort(order, order + kept,
                   [&l](DWORD a, DWORD b) { return l.numberOf[a] < l.numberOf[b]; });
  for (DWORD k = 0; k < kept; k++) l.placeNumber[k] = l.numberOf[order[k]];
  // Each cycle of the permutation is followed once, with one text aside.
  char aside[UID_SLOT_BYTES];
  memset(placed, 0, sizeof placed);
  for (DWORD start = 0; start < kept; start++) {
    if (placed[start] || order[start] == start) continue;
    memcpy(aside, currentUids[start], UID_SLOT_BYTES);
    DWORD at = start;
    while (order[at] != start) {
      memcpy(currentUids[at], currentUids[order[at]], UID_SLOT_BYTES);
      placed[at] = 1;
      at = order[at];
    }
    memcpy(currentUids[at], aside, UID_SLOT_BYTES);
    placed[at] = 1;
  }
  return l.listedCount;
}

DWORD listedNumberAt(const Mailbox* box, DWORD place) {
  return place < box->listing.keptSlots ? box->listing.placeNumber[place] : 0;
}
