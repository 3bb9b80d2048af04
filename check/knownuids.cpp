// The known-UID list. KivvetLE.log holds 1024 records of 32 bytes, each
// the first 32 bytes of a slot, complemented; no header, no count: after
// a load every slot takes part in the first comparison.
#include "check/knownuids.h"

#include <string.h>

#include "app/appstate.h"
#include "check/md5.h"
#include "settings/settings.h"

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
  HANDLE file = CreateFileA(KNOWN_UIDS_FILE_NAME, GENERIC_READ, 0, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
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
  HANDLE file = CreateFileA(KNOWN_UIDS_FILE_NAME, GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 0;
  static unsigned char image[KNOWN_UIDS_FILE_BYTES];
  for (DWORD i = 0; i < UID_SLOTS; i++)
    memcpy(image + i * KNOWN_UIDS_RECORD_BYTES, app.knownUids[i], KNOWN_UIDS_RECORD_BYTES);
  scrambleBytes(image, sizeof image);
  DWORD written = 0;
  BOOL ok = WriteFile(file, image, sizeof image, &written, NULL);
  CloseHandle(file);
  return ok && written == sizeof image;
}

// Known UIDs still on the server stay, in their order, each once; UIDs not
// known before are appended in message order and counted as new. Keeping
// each known UID once bounds the list by the UIDs of this check, so it
// fits its 1024 places whatever leftovers a restart loaded.
DWORD mergeUidLists() {
  static unsigned char knownMatched[UID_SLOTS];
  static unsigned char currentMatched[UID_SLOTS];
  DWORD current = currentCount();
  DWORD known = app.knownCount < UID_SLOTS ? app.knownCount : UID_SLOTS;
  memset(knownMatched, 0, sizeof knownMatched);
  memset(currentMatched, 0, sizeof currentMatched);

  for (DWORD i = 0; i < known; i++)
    for (DWORD j = 0; j < current; j++)
      if (strcmp(app.knownUids[i], app.currentUids[j]) == 0) {
        knownMatched[i] = 1;
        currentMatched[j] = 1;
      }

  DWORD kept = 0;
  for (DWORD i = 0; i < known; i++) {
    if (!knownMatched[i]) continue;
    int duplicate = 0;
    for (DWORD k = 0; k < kept && !duplicate; k++)
      duplicate = strcmp(app.knownUids[k], app.knownUids[i]) == 0;
    if (duplicate) continue;
    if (kept != i) strcpy(app.knownUids[kept], app.knownUids[i]);
    kept++;
  }

  DWORD fresh = 0;
  for (DWORD j = 0; j < current; j++) {
    if (currentMatched[j]) continue;
    strcpy(app.knownUids[kept], app.currentUids[j]);
    kept++;
    fresh++;
  }
  app.knownCount = kept;
  return fresh;
}
