// Who wrote the newest new messages, and about what: kept in memory only,
// while their announcement lasts, for the balloon, the tooltip and the
// menu. Nothing of them is ever written anywhere.
#ifndef KIVVET_TRAY_PREVIEWS_H
#define KIVVET_TRAY_PREVIEWS_H

#include <stddef.h>

#include "platform/win32.h"

// At most this many messages are previewed, each sender and subject cut
// to this many characters (UTF-8, up to four bytes each, and the NUL).
const DWORD MOST_PREVIEWS = 5;
const size_t PREVIEW_CHARS = 80;
const size_t PREVIEW_TEXT_BYTES = 4 * PREVIEW_CHARS + 1;

struct Preview {
  char sender[PREVIEW_TEXT_BYTES];
  char subject[PREVIEW_TEXT_BYTES];
};

// A mailbox's previews, in fixed slots. tray/previews.cpp
struct Previews {
  Preview slots[MOST_PREVIEWS];
  DWORD previewsHeld;
  DWORD version;  // changes with every drop and add: the menu knows when to build anew
};

// The counts of a mailbox's last check.
struct MailCounts {
  DWORD messageCount;  // check/check.cpp (setMessageCount), by its protocol's word
  DWORD newCount;      // check/check.cpp (setNewCount), by its protocol's word
};

// The tray shows every mailbox in use: each slot's counts (from
// start-up on; until they are given the slot counts nothing) and its
// register of untold mail (tray/register), summed.
void showInTray(const MailCounts* counts, int slot);
// The counts of the mailbox in slot, and their sums over the mailboxes.
const MailCounts* countsOf(int slot);
const MailCounts* shownCounts();
// The new mail the icon, the tooltip and the balloon tell of: the
// registers' count, or, where new mail is not kept told, the last checks'.
DWORD newCountOf(int slot);
DWORD shownNewCount();
// The previews of the registers: with one mailbox its own; with more,
// the newest of the mailbox that got mail last first, each sender after
// its mailbox's name.
const Previews* shownPreviews();
// Mail told quietly and still untold, over the mailboxes.
DWORD quietMailCount();
// The user has seen the mail of every mailbox; the quiet mail is told.
void acknowledgeAllMail();
void forgetAllQuietMail();

// Forgets every preview.
void dropPreviews(Previews* previews);
// Adds the preview of the next older message (the newest comes first).
void addPreview(Previews* previews, const char* sender, const char* subject);
DWORD previewCount(const Previews* previews);
// "sender: subject" of preview index (0 the newest), cut to size bytes;
// the one of them the message has, when it lacks the other.
void previewLine(const Previews* previews, DWORD index, char* text, size_t size);
// The same line as a menu item or a tooltip shows it: each "&" doubled,
// so that it marks no key.
void previewLabel(const Previews* previews, DWORD index, char* label, size_t size);
DWORD previewsVersion(const Previews* previews);

#endif
