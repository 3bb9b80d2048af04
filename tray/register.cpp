// The registers of untold mail, in a table by mailbox slot. A check's
// findings wait beside the register until its result is out, so that a
// check that fails changes nothing.
#include "tray/register.h"

#include <string.h>

namespace {

typedef char UidText[UID_SLOT_BYTES];

struct UntoldMail {
  DWORD untold;       // messages not looked at, tracked or not
  DWORD toldQuietly;  // of them, those told while the cat kept quiet
  DWORD tracked;      // UIDs kept, oldest first
  UidText uids[REGISTER_UIDS];
  Previews previews;                   // of the newest, newest first
  UidText previewUids[MOST_PREVIEWS];  // whose they are ("" unknown)
  // The check under way: the new UIDs it found (the newest kept, oldest
  // first), and what it learnt of the tracked ones.
  DWORD found;
  UidText foundUids[REGISTER_UIDS];
  unsigned char stillUnread[REGISTER_UIDS];
  unsigned char readElsewhere[REGISTER_UIDS];
  int askedAll;
};

UntoldMail registers[MOST_MAILBOXES];
// Where a slot outside the table reads and writes: nothing that lasts.
UntoldMail noRegister;

UntoldMail& registerOf(int slot) {
  if (slot >= 0 && slot < MOST_MAILBOXES) return registers[slot];
  noRegister = UntoldMail();
  return noRegister;
}

void copyUid(char* slot, const char* uid) {
  strncpy(slot, uid, UID_SLOT_BYTES - 1);
  slot[UID_SLOT_BYTES - 1] = '\0';
}

int trackedAt(const UntoldMail& r, const char* uid) {
  for (DWORD i = 0; i < r.tracked; i++)
    if (strcmp(r.uids[i], uid) == 0) return (int)i;
  return -1;
}

void clearFindings(UntoldMail& r) {
  r.found = 0;
  memset(r.foundUids, 0, sizeof r.foundUids);
  memset(r.stillUnread, 0, sizeof r.stillUnread);
  memset(r.readElsewhere, 0, sizeof r.readElsewhere);
  r.askedAll = 0;
}

// The previews become those of the list given, in its order.
void setPreviews(UntoldMail& r, const Preview* previews, const UidText* uids, DWORD count) {
  dropPreviews(&r.previews);
  memset(r.previewUids, 0, sizeof r.previewUids);
  for (DWORD i = 0; i < count && i < MOST_PREVIEWS; i++) {
    addPreview(&r.previews, previews[i].sender, previews[i].subject);
    memcpy(r.previewUids[i], uids[i], UID_SLOT_BYTES);
  }
}

// A tracked message leaves: its UID, its preview, and one of the count.
void takeBack(UntoldMail& r, DWORD at) {
  Preview kept[MOST_PREVIEWS];
  UidText keptUids[MOST_PREVIEWS];
  DWORD count = 0;
  for (DWORD i = 0; i < previewCount(&r.previews); i++) {
    if (strcmp(r.previewUids[i], r.uids[at]) == 0) continue;
    kept[count] = r.previews.slots[i];
    memcpy(keptUids[count++], r.previewUids[i], UID_SLOT_BYTES);
  }
  if (count != previewCount(&r.previews)) setPreviews(r, kept, keptUids, count);
  memset(kept, 0, sizeof kept);
  memmove(r.uids[at], r.uids[at + 1], (r.tracked - at - 1) * UID_SLOT_BYTES);
  memmove(r.stillUnread + at, r.stillUnread + at + 1, r.tracked - at - 1);
  memmove(r.readElsewhere + at, r.readElsewhere + at + 1, r.tracked - at - 1);
  r.tracked--;
  memset(r.uids[r.tracked], 0, UID_SLOT_BYTES);
  if (r.untold > 0) r.untold--;
  if (r.toldQuietly > r.untold) r.toldQuietly = r.untold;
}

void empty(UntoldMail& r) {
  r.untold = 0;
  r.toldQuietly = 0;
  r.tracked = 0;
  memset(r.uids, 0, sizeof r.uids);
  dropPreviews(&r.previews);
  memset(r.previewUids, 0, sizeof r.previewUids);
}

// The check's new mail joins: its UIDs behind the tracked ones (the
// oldest dropped past the table), its previews before the older ones.
void join(UntoldMail& r, DWORD newCount, const Previews* previews) {
  DWORD joining = r.found < newCount ? r.found : newCount;
  const UidText* newest = r.foundUids + (r.found - joining);
  for (DWORD i = 0; i < joining; i++) {
    if (r.tracked == REGISTER_UIDS) {
      memmove(r.uids[0], r.uids[1], (REGISTER_UIDS - 1) * UID_SLOT_BYTES);
      r.tracked--;
    }
    copyUid(r.uids[r.tracked++], newest[i]);
  }
  r.untold += newCount;
  // The check's previews are of its newest new messages, newest first:
  // the UIDs found last.
  Preview merged[MOST_PREVIEWS];
  UidText mergedUids[MOST_PREVIEWS];
  DWORD count = 0;
  int matched = previewCount(previews) <= joining;
  for (DWORD i = 0; i < previewCount(previews) && count < MOST_PREVIEWS; i++) {
    merged[count] = previews->slots[i];
    copyUid(mergedUids[count++], matched ? newest[joining - 1 - i] : "");
  }
  for (DWORD i = 0; i < previewCount(&r.previews) && count < MOST_PREVIEWS; i++) {
    merged[count] = r.previews.slots[i];
    memcpy(mergedUids[count++], r.previewUids[i], UID_SLOT_BYTES);
  }
  setPreviews(r, merged, mergedUids, count);
  memset(merged, 0, sizeof merged);
}

}  // namespace

void registerCheckBegins(int slot) { clearFindings(registerOf(slot)); }

void registerFoundNew(int slot, const char* uid) {
  UntoldMail& r = registerOf(slot);
  if (r.found == REGISTER_UIDS) {
    memmove(r.foundUids[0], r.foundUids[1], (REGISTER_UIDS - 1) * UID_SLOT_BYTES);
    r.found--;
  }
  copyUid(r.foundUids[r.found++], uid);
}

void registerStillUnread(int slot, const char* uid) {
  UntoldMail& r = registerOf(slot);
  int at = trackedAt(r, uid);
  if (at >= 0) r.stillUnread[at] = 1;
}

void registerReadElsewhere(int slot, const char* uid) {
  UntoldMail& r = registerOf(slot);
  int at = trackedAt(r, uid);
  if (at >= 0) r.readElsewhere[at] = 1;
}

void registerAskedAll(int slot) { registerOf(slot).askedAll = 1; }

namespace {
// Counts the checks that brought new mail into any register.
DWORD joins = 0;
DWORD lastJoin[MOST_MAILBOXES];
}  // namespace

DWORD lastJoinOf(int slot) { return slot >= 0 && slot < MOST_MAILBOXES ? lastJoin[slot] : 0; }

void registerCheckEnds(int slot, DWORD newCount, DWORD messageCount, const Previews* previews) {
  UntoldMail& r = registerOf(slot);
  if (newCount > 0 && slot >= 0 && slot < MOST_MAILBOXES) lastJoin[slot] = ++joins;
  if (messageCount == 0) {
    empty(r);
  } else {
    for (DWORD i = r.tracked; i-- > 0;)
      if (r.readElsewhere[i] || (r.askedAll && !r.stillUnread[i])) takeBack(r, i);
    // Nothing left to take back, and nothing untracked left either.
    if (r.tracked == 0 && r.askedAll) empty(r);
  }
  join(r, newCount, previews);
  clearFindings(r);
}

void acknowledgeRegister(int slot) {
  UntoldMail& r = registerOf(slot);
  empty(r);
}

size_t registerUidList(int slot, char* text, size_t size) {
  const UntoldMail& r = registerOf(slot);
  size_t used = 0;
  for (DWORD i = 0; i < r.tracked; i++) {
    size_t length = strlen(r.uids[i]);
    if (used + length + 2 > size) break;
    memcpy(text + used, r.uids[i], length);
    used += length;
    text[used++] = ',';
  }
  if (size > 0) text[used < size ? used : size - 1] = '\0';
  return used;
}

void registerToldQuietly(int slot, DWORD count) {
  UntoldMail& r = registerOf(slot);
  r.toldQuietly += count;
  if (r.toldQuietly > r.untold) r.toldQuietly = r.untold;
}

void forgetQuietMail(int slot) { registerOf(slot).toldQuietly = 0; }

DWORD untoldCount(int slot) { return registerOf(slot).untold; }

DWORD trackedCount(int slot) { return registerOf(slot).tracked; }

DWORD quietCount(int slot) { return registerOf(slot).toldQuietly; }

const Previews* untoldPreviews(int slot) { return &registerOf(slot).previews; }

size_t registerBytes() { return sizeof(UntoldMail); }
