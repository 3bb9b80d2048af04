// The known-UID list. KivvetLE.log holds 1024 records of 32 bytes, each
// the first 32 bytes of a slot, complemented; no header, no count: after
// a load every slot takes part in the first comparison.
#include "check/knownuids.h"

#include <string.h>

#include <algorithm>

#include "app/appstate.h"
#include "app/datafile.h"
#include "check/md5.h"

const char KNOWN_UIDS_FILE_NAME[] = "KivvetLE.log";

namespace {

// The UIDs of this check: the walked messages, at most one table's worth.
DWORD currentCount() { return app.messageCount < UID_SLOTS ? app.messageCount : UID_SLOTS; }

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

int loadKnownUids() {
  HANDLE file = openDataFile(KNOWN_UIDS_FILE_NAME, GENERIC_READ, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return 0;
  for (DWORD i = 0; i < UID_SLOTS; i++) {
    DWORD got = 0;
    ReadFile(file, app.knownUids[i], KNOWN_UIDS_RECORD_BYTES, &got, NULL);
  }
  CloseHandle(file);
  // Records the file did not reach read as 32 bytes of 0xFF: a text that
  // matches no UID, and is dropped at the first comparison.
  for (DWORD i = 0; i < UID_SLOTS; i++) {
    scrambleBytes(app.knownUids[i], KNOWN_UIDS_RECORD_BYTES);
    app.knownUids[i][KNOWN_UIDS_RECORD_BYTES] = '\0';
  }
  app.knownCount = UID_SLOTS;
  return 1;
}

// The whole table is written in one piece from the start of the file; a
// longer file keeps its tail. Returns 0 when the file cannot be opened or
// not all of it was written.
int saveKnownUids() {
  static unsigned char image[KNOWN_UIDS_FILE_BYTES];
  for (DWORD i = 0; i < UID_SLOTS; i++)
    memcpy(image + i * KNOWN_UIDS_RECORD_BYTES, app.knownUids[i], KNOWN_UIDS_RECORD_BYTES);
  scrambleBytes(image, sizeof image);
  return writeDataFile(KNOWN_UIDS_FILE_NAME, image, sizeof image);
}

// Known UIDs still on the server stay, in their order, each once; UIDs not
// known before are appended in message order and counted as new. Keeping
// each known UID once bounds the list by the UIDs of this check, so it
// fits its 1024 places whatever leftovers a restart loaded.
//
// The outcome is that of comparing every known UID with every current one;
// the current UIDs are sorted once so that each known UID finds its equals
// by binary search instead (the check runs on the window's thread).
DWORD mergeUidLists() {
  static unsigned char knownMatched[UID_SLOTS];
  static unsigned char currentMatched[UID_SLOTS];
  static unsigned char groupKept[UID_SLOTS];
  static DWORD order[UID_SLOTS];
  DWORD current = currentCount();
  DWORD known = app.knownCount < UID_SLOTS ? app.knownCount : UID_SLOTS;
  memset(knownMatched, 0, sizeof knownMatched);
  memset(currentMatched, 0, sizeof currentMatched);
  memset(groupKept, 0, sizeof groupKept);

  for (DWORD j = 0; j < current; j++) order[j] = j;
  std::sort(order, order + current,
            [](DWORD a, DWORD b) { return strcmp(app.currentUids[a], app.currentUids[b]) < 0; });

  // knownMatched[i] holds 1 + the sorted position of the first current
  // UID equal to known UID i: one flag per group of equal texts.
  for (DWORD i = 0; i < known; i++) {
    const char* uid = app.knownUids[i];
    DWORD* first = std::lower_bound(order, order + current, uid, [](DWORD j, const char* text) {
      return strcmp(app.currentUids[j], text) < 0;
    });
    DWORD group = (DWORD)(first - order);
    if (group == current || strcmp(app.currentUids[*first], uid) != 0) continue;
    knownMatched[i] = 1;
    for (DWORD k = group; k < current && strcmp(app.currentUids[order[k]], uid) == 0; k++)
      currentMatched[order[k]] = 1;
    // Kept once: later copies of the same UID are dropped.
    if (groupKept[group]) knownMatched[i] = 0;
    groupKept[group] = 1;
  }

  DWORD kept = 0;
  for (DWORD i = 0; i < known; i++) {
    if (!knownMatched[i]) continue;
    if (kept != i) strcpy(app.knownUids[kept], app.knownUids[i]);
    kept++;
  }

  DWORD fresh = 0;
  for (DWORD j = 0; j < current && kept < UID_SLOTS; j++) {
    if (currentMatched[j]) continue;
    strcpy(app.knownUids[kept], app.currentUids[j]);
    kept++;
    fresh++;
  }
  app.knownCount = kept;
  return fresh;
}
