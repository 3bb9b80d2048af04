// The known-UID list. KivvetLE.log holds 1024 records of 32 bytes, each
// the first 32 bytes of a slot, complemented; no header, no count: after
// a load every slot takes part in the first comparison.
#include "check/knownuids.h"

#include <stdio.h>
#include <string.h>

#include "base/appstate.h"
#include "base/datafile.h"
#include "check/mailbox.h"
#include "check/md5.h"
#include "settings/settings.h"

const char KNOWN_UIDS_FILE_NAME[] = "KivvetLE.log";

namespace {

// The UIDs of this check: the walked messages, at most one table's worth.
DWORD currentCount(const Mailbox* box) {
  return box->counts.messageCount < UID_SLOTS ? box->counts.messageCount : UID_SLOTS;
}

// The record behind the table, "IMAP validity next", complemented; any
// other text marks nothing.
void readImapMark(Mailbox* box, const unsigned char* image, DWORD got) {
  box->known.imapMarked = 0;
  if (got < IMAP_MARK_AT + KNOWN_UIDS_RECORD_BYTES) return;
  char text[KNOWN_UIDS_RECORD_BYTES + 1];
  memcpy(text, image + IMAP_MARK_AT, KNOWN_UIDS_RECORD_BYTES);
  scrambleBytes(text, KNOWN_UIDS_RECORD_BYTES);
  text[KNOWN_UIDS_RECORD_BYTES] = '\0';
  unsigned validity = 0, next = 0;
  char end = 0;
  if (sscanf(text, "IMAP %u %u%c", &validity, &next, &end) != 2) return;
  const unsigned char* account = (const unsigned char*)text + IMAP_ACCOUNT_AT;
  box->known.imapMarked = 1;
  box->known.imapValidity = validity;
  box->known.imapNext = next;
  box->known.imapAccount = (DWORD)account[0] | (DWORD)account[1] << 8 | (DWORD)account[2] << 16 |
                           (DWORD)account[3] << 24;
  box->known.imapRenumbered = 0;
}

}  // namespace

void storeUid(char* slot, const char* uid, size_t length) {
  if (length <= KNOWN_UIDS_RECORD_BYTES) {
    memcpy(slot, uid, length);
    slot[length] = '\0';
    return;
  }
  Md5Context context;
  unsigned char digest[16];
  md5Init(&context);
  md5Update(&context, (const unsigned char*)uid, (unsigned int)length);
  md5Final(digest, &context);
  md5DigestText(slot, digest);
}

void knownUidsFileName(int slot, char* name, size_t size) {
  if (slot == 0)
    snprintf(name, size, "%s", KNOWN_UIDS_FILE_NAME);
  else
    snprintf(name, size, "KivvetLE-%d.log", slot + 1);
}

int loadKnownUids(Mailbox* box) {
  char name[32];
  knownUidsFileName(box->mailboxSlot, name, sizeof name);
  HANDLE file = openDataFile(name, GENERIC_READ, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return 0;
  // One read, as the file is written; records the file does not reach
  // keep what their slots held.
  static unsigned char image[KNOWN_UIDS_FILE_BYTES + KNOWN_UIDS_RECORD_BYTES];
  DWORD got = 0;
  if (!ReadFile(file, image, sizeof image, &got, NULL)) got = 0;
  CloseHandle(file);
  readImapMark(box, image, got);
  for (DWORD i = 0; i < UID_SLOTS && i * KNOWN_UIDS_RECORD_BYTES < got; i++) {
    DWORD left = got - i * KNOWN_UIDS_RECORD_BYTES;
    memcpy(box->knownUids[i], image + i * KNOWN_UIDS_RECORD_BYTES,
           left < KNOWN_UIDS_RECORD_BYTES ? left : KNOWN_UIDS_RECORD_BYTES);
  }
  // Records the file did not reach read as 32 bytes of 0xFF: a text that
  // matches no UID, and is dropped at the first comparison.
  for (DWORD i = 0; i < UID_SLOTS; i++) {
    scrambleBytes(box->knownUids[i], KNOWN_UIDS_RECORD_BYTES);
    box->knownUids[i][KNOWN_UIDS_RECORD_BYTES] = '\0';
  }
  box->known.knownCount = UID_SLOTS;
  return 1;
}

// The whole table is written in one piece from the start of the file; a
// longer file keeps its tail. Returns 0 when the file cannot be opened or
// not all of it was written.
int saveKnownUids(const Mailbox* box) {
  static unsigned char image[KNOWN_UIDS_FILE_BYTES + KNOWN_UIDS_RECORD_BYTES];
  for (DWORD i = 0; i < UID_SLOTS; i++)
    memcpy(image + i * KNOWN_UIDS_RECORD_BYTES, box->knownUids[i], KNOWN_UIDS_RECORD_BYTES);
  DWORD size = KNOWN_UIDS_FILE_BYTES;
  if (box->known.imapMarked) {
    unsigned char* record = image + IMAP_MARK_AT;
    memset(record, 0, KNOWN_UIDS_RECORD_BYTES);
    // At most 26 characters and the NUL: the account's bytes stay clear.
    snprintf((char*)record, IMAP_ACCOUNT_AT, "IMAP %u %u", (unsigned)box->known.imapValidity,
             (unsigned)box->known.imapNext);
    for (int i = 0; i < 4; i++)
      record[IMAP_ACCOUNT_AT + i] = (unsigned char)(box->known.imapAccount >> (8 * i));
    size += KNOWN_UIDS_RECORD_BYTES;
  }
  scrambleBytes(image, size);
  char name[32];
  knownUidsFileName(box->mailboxSlot, name, sizeof name);
  return writeDataFile(name, image, size);
}

void rememberImapMark(Mailbox* box, DWORD uidValidity, DWORD uidNext) {
  KnownUids& known = box->known;
  int renumbered = imapMarkHolds(box) && known.imapValidity != uidValidity;
  known.imapRenumbered = renumbered ? known.imapRenumbered + (known.imapRenumbered < 32) : 0;
  known.imapMarked = 1;
  known.imapValidity = uidValidity;
  known.imapNext = uidNext;
  known.imapAccount = imapAccountKey(box);
}

// FNV-1a over the server's name (its case does not matter) and the user
// ID, each ended by a NUL. The port is left out: another port of the same
// server is, in practice, the same mailbox reached in TLS or not (993 or
// 143, or a provider's own pair), whose mark must stay.
DWORD imapAccountKey(const Mailbox* box) {
  const Account* s = box->account;
  DWORD hash = 2166136261u;
  const char* parts[] = {s->serverHost, s->userId};
  for (const char* part : parts) {
    for (const char* p = part;; p++) {
      char c = *p >= 'A' && *p <= 'Z' && part == s->serverHost ? (char)(*p - 'A' + 'a') : *p;
      hash = (hash ^ (unsigned char)c) * 16777619u;
      if (*p == '\0') break;
    }
  }
  return hash != 0 ? hash : 1;
}

int imapMarkHolds(const Mailbox* box) {
  const KnownUids& known = box->known;
  return known.imapMarked && (known.imapAccount == 0 || known.imapAccount == imapAccountKey(box));
}

namespace {

// Open addressing over twice the table's places: each bucket holds one
// text of this check's UIDs (1 + the message's index), 0 when empty.
const DWORD BUCKETS = 2 * UID_SLOTS;

// A UID as four words: the text's bytes up to its end, zeros after it,
// whatever the slot holds behind the NUL. Equal texts give equal words, so
// a lookup hashes and compares words, without a string call per UID.
struct UidKey {
  unsigned long long word[4];
};

UidKey uidKey(const char* uid) {
  UidKey key = {};
  memcpy(key.word, uid, strnlen(uid, sizeof key.word));
  return key;
}

int sameKey(const UidKey& a, const UidKey& b) {
  return ((a.word[0] ^ b.word[0]) | (a.word[1] ^ b.word[1]) | (a.word[2] ^ b.word[2]) |
          (a.word[3] ^ b.word[3])) == 0;
}

// FNV-1a over the four words, then its high half stirred into the bits
// a bucket is taken from. A product carries a word's low bits upwards
// only, and UIDs often differ only in the last characters of a word
// (Dovecot's "%08Xu%08Xv" ends its first word with the message's number):
// without the stir they crowd into a few buckets, and each lookup walks a
// long run of them.
DWORD hashKey(const UidKey& key) {
  unsigned long long hash = 14695981039346656037ull;
  for (int k = 0; k < 4; k++) hash = (hash ^ key.word[k]) * 1099511628211ull;
  hash ^= hash >> 32;
  return (DWORD)((hash * 0x9E3779B97F4A7C15ull) >> 32);
}

// Scratch of one count: the keys of this check's UIDs, by message.
UidKey currentKeys[UID_SLOTS];

// The bucket that holds the text, or the empty bucket where it belongs.
DWORD findBucket(const DWORD* buckets, const UidKey& key) {
  DWORD b = hashKey(key) & (BUCKETS - 1);
  while (buckets[b] != 0 && !sameKey(currentKeys[buckets[b] - 1], key)) b = (b + 1) & (BUCKETS - 1);
  return b;
}

}  // namespace

// Known UIDs still on the server stay, in their order, each once; UIDs not
// known before are appended in message order and counted as new, except
// those before the first known one. Keeping
// each known UID once bounds the list by the UIDs of this check, so it
// fits its 1024 places whatever leftovers a restart loaded.
//
// The outcome is that of comparing every known UID with every current one;
// the current UIDs go into a hash table once so that each known UID finds
// its equals at once instead (the check runs on the window's thread).
//
// The count leaves the list as it was: it changes only once the count is
// announced (rememberCurrentUids), so a check that ends before that finds
// the same mail new next time.
DWORD countNewUids(Mailbox* box) {
  char** knownUids = box->knownUids;
  char** currentUids = box->currentUids;
  KnownUids& state = box->known;
  static DWORD buckets[BUCKETS];
  static DWORD bucketOf[UID_SLOTS];
  static unsigned char bucketKept[BUCKETS];
  DWORD current = currentCount(box);
  DWORD known = state.knownCount < UID_SLOTS ? state.knownCount : UID_SLOTS;
  memset(buckets, 0, sizeof buckets);
  memset(bucketKept, 0, sizeof bucketKept);
  memset(state.knownMatched, 0, sizeof state.knownMatched);
  memset(state.currentAppended, 0, sizeof state.currentAppended);
  memset(state.countedNew, 0, sizeof state.countedNew);
  state.lastCurrentCount = current;

  // Equal texts share one bucket.
  for (DWORD j = 0; j < current; j++) {
    currentKeys[j] = uidKey(currentUids[j]);
    DWORD b = findBucket(buckets, currentKeys[j]);
    if (buckets[b] == 0) buckets[b] = j + 1;
    bucketOf[j] = b;
  }
  // Kept once: later copies of the same known UID are dropped.
  for (DWORD i = 0; i < known; i++) {
    DWORD b = findBucket(buckets, uidKey(knownUids[i]));
    if (buckets[b] == 0 || bucketKept[b]) continue;
    bucketKept[b] = 1;
    state.knownMatched[i] = 1;
  }

  // New mail arrives at the end of the mailbox. In a mailbox larger than
  // the walk (which covers only the newest 1024), an unknown UID in front
  // of the first known one is an older message that a deletion moved into
  // it: it is remembered, not announced. A smaller mailbox is seen whole,
  // and every unknown UID is new mail, wherever the server lists it. With
  // nothing known at all (a first check) every one is new.
  DWORD firstKnown = 0;
  while (firstKnown < current && !bucketKept[bucketOf[firstKnown]]) firstKnown++;
  if (firstKnown == current || box->counts.messageCount <= UID_SLOTS) firstKnown = 0;

  DWORD fresh = 0;
  for (DWORD j = 0; j < current; j++) {
    if (bucketKept[bucketOf[j]]) continue;
    state.currentAppended[j] = 1;
    if (j >= firstKnown) {
      fresh++;
      state.countedNew[j] = 1;
    }
    // A UID listed twice is one message, remembered and counted once.
    bucketKept[bucketOf[j]] = 1;
  }
  return fresh;
}

// Each known UID kept matches a distinct UID of this check, so the list
// never outgrows the table.
void rememberCurrentUids(Mailbox* box) {
  char** knownUids = box->knownUids;
  KnownUids& state = box->known;
  DWORD known = state.knownCount < UID_SLOTS ? state.knownCount : UID_SLOTS;
  DWORD kept = 0;
  for (DWORD i = 0; i < known; i++) {
    if (!state.knownMatched[i]) continue;
    if (kept != i) strcpy(knownUids[kept], knownUids[i]);
    kept++;
  }
  for (DWORD j = 0; j < state.lastCurrentCount && kept < UID_SLOTS; j++)
    if (state.currentAppended[j]) strcpy(knownUids[kept++], box->currentUids[j]);
  state.knownCount = kept;
}

DWORD mergeUidLists(Mailbox* box) {
  DWORD fresh = countNewUids(box);
  rememberCurrentUids(box);
  return fresh;
}

DWORD newestNewPlaces(const Mailbox* box, DWORD* places, DWORD most) {
  DWORD found = 0;
  for (DWORD j = box->known.lastCurrentCount; j > 0 && found < most; j--)
    if (box->known.countedNew[j - 1]) places[found++] = j - 1;
  return found;
}
