// The voice runs on TIMER_VOICE, five frames of 200 ms per message with
// one sound at the start of each cycle, its first frame and sound at once;
// the blink on TIMER_BLINK, one picture every 500 ms. Every picture goes
// through setTrayIcon with the standard tooltip, or with the count when
// the voice told only part of it.
#include "tray/notify.h"

#include <stdio.h>
#include <string.h>

#include "base/appstate.h"
#include "base/text.h"
#include "settings/settings.h"
#include "tray/previews.h"
#include "tray/quiet.h"
#include "tray/register.h"
#include "tray/trayicon.h"

namespace {

const int VOICE_FRAMES = 5;

// Where the announcement stands: the voice's frame and the sounds played,
// the blink's picture.
struct Announcement {
  int animFrame;
  DWORD soundCount;
  int blinkPhase;
  int running;  // the voice or the blink goes on
  DWORD soundsWanted;
  int quietly;  // the mail is shown without a blink
  int voicing;  // TIMER_VOICE runs
  int slot;     // the mailbox whose check is told
};
Announcement announcement;
const char* const voicePictures[VOICE_FRAMES] = {"APPICON", "VOICE1ICON", "VOICE2ICON",
                                                 "VOICE1ICON", "APPICON"};

// The sound of one message. Asynchronous, and without SND_NODEFAULT: a
// wave file that cannot be played gives the system's default sound, so
// the user still hears that mail came.
void playOneSound() {
  if (settings.useVoice != 1) {
    MessageBeep(0xFFFFFFFF);
  } else if (settings.customVoice != 0) {
    PlaySoundW(wide(settings.voicePath).text, NULL, SND_FILENAME | SND_ASYNC);
  } else {
    PlaySoundW(wide("VOICE").text, app.appInstance, SND_RESOURCE | SND_ASYNC);
  }
}

DWORD messagesToAnnounce() {
  const MailCounts* counts = countsOf(announcement.slot);
  return settings.soundNewOnly != 0 ? counts->newCount : counts->messageCount;
}

void stopVoice(HWND window) {
  KillTimer(window, TIMER_VOICE);
  announcement.voicing = 0;
}

// The balloon's lines of who wrote and about what.
const DWORD BALLOON_PREVIEWS = 3;

// For a user who was away from the speakers: the count and the account
// (or how many came while the cat kept quiet), then the newest messages'
// senders and subjects.
void announceInBalloon(HWND window, DWORD quietMail) {
  char text[SHORT_TEXT_BYTES + 64 + BALLOON_PREVIEWS * (2 * PREVIEW_TEXT_BYTES + 4)];
  if (quietMail > 0)
    snprintf(text, sizeof text, "取り込み中に%u通届いたにゃ.", (unsigned)quietMail);
  else if (accounts[announcement.slot].accountName[0] != '\0')
    // With several mailboxes, the count of the one named.
    snprintf(text, sizeof text, "「%s」に新しいメールが%u通届いたにゃ.",
             accounts[announcement.slot].accountName,
             (unsigned)(accountCount > 1 ? newCountOf(announcement.slot) : shownNewCount()));
  else
    snprintf(text, sizeof text, "新しいメールが%u通届いたにゃ.", (unsigned)shownNewCount());
  // Only whole lines: the balloon would cut the last one anywhere.
  WCHAR measure[BALLOON_TEXT_UNITS];
  for (DWORD i = 0; i < previewCount(shownPreviews()) && i < BALLOON_PREVIEWS; i++) {
    size_t used = strlen(text);
    text[used] = '\n';
    previewLine(shownPreviews(), i, text + used + 1, sizeof text - used - 1);
    if (!toWide(text, measure, BALLOON_TEXT_UNITS)) {
      text[used] = '\0';
      break;
    }
  }
  showBalloon(window, APP_TITLE, text);
  memset(text, 0, sizeof text);
  memset(measure, 0, sizeof measure);
}

// One sound per message, but a big mailbox is told in a few seconds, not
// in minutes: past this many the count goes into the tooltip instead.
const DWORD MOST_SOUNDS = 5;

DWORD soundsToPlay() { return announcement.soundsWanted; }

// The sounds of this check's mail; one at least for quiet mail told now.
DWORD soundsFor(DWORD quietMail) {
  DWORD count = messagesToAnnounce();
  if (count == 0 && quietMail > 0) count = 1;
  return count < MOST_SOUNDS ? count : MOST_SOUNDS;
}

// The tooltip of the announcement's pictures: the standard one, or, when
// the voice could not tell every message and the standard one shows no
// count, their count.
const char* announcementTip(char* text, size_t size) {
  text[0] = '\0';
  // Who wrote the newest message comes first.
  if (previewCount(shownPreviews()) > 0) {
    previewLabel(shownPreviews(), 0, text, size);
    return text;
  }
  int tipShowsCounts = settings.tooltipMode == 1 || settings.tooltipMode == 2;
  if (settings.soundNotify == 1 && messagesToAnnounce() > MOST_SOUNDS && !tipShowsCounts)
    snprintf(text, size, "メールが%u通あるにゃ.", (unsigned)messagesToAnnounce());
  return text;
}

void CALLBACK quietEndTimerProc(HWND window, UINT, UINT_PTR, DWORD);
int watchingQuietEnd = 0;

// Mail told quietly is told once the quiet is over: the timer asks
// Windows and the clock every minute while there is such mail.
void watchForQuietEnd(HWND window) {
  int wanted = settings.keepTelling == 1 && quietMailCount() > 0;
  // A running timer keeps its minute: checks that come more often must
  // not put the question off.
  if (wanted && !watchingQuietEnd)
    SetTimer(window, TIMER_QUIET_END, QUIET_END_POLL_MS, quietEndTimerProc);
  else if (!wanted && watchingQuietEnd)
    KillTimer(window, TIMER_QUIET_END);
  watchingQuietEnd = wanted;
}

// The announcement is over: what it told goes (the register only when
// the user has seen it, or it is kept only for a check).
void endAnnouncement(HWND window, int seen) {
  announcement.running = 0;
  if (seen || settings.keepTelling != 1) acknowledgeAllMail();
  watchForQuietEnd(window);
  setTrayBadge(settings.showCount == 1 && settings.keepTelling == 1 ? shownNewCount() : 0);
}

void CALLBACK blinkTimerProc(HWND window, UINT, UINT_PTR, DWORD) {
  char tip[2 * PREVIEW_TEXT_BYTES + 4];
  setTrayIcon(window, NIM_MODIFY, announcement.blinkPhase != 0 ? "GETICON" : "BLANKICON",
              announcementTip(tip, sizeof tip));
  announcement.blinkPhase = announcement.blinkPhase == 0 ? 1 : 0;
}

int blinkWanted() {
  return (settings.blinkNewOnly == 1 && shownNewCount() > 0) ||
         (settings.blinkNewOnly == 0 && shownCounts()->messageCount > 0);
}

void startBlink(HWND window) {
  if (blinkWanted()) {
    SetTimer(window, TIMER_BLINK, BLINK_FRAME_MS, blinkTimerProc);
    announcement.running = 1;
    return;
  }
  KillTimer(window, TIMER_BLINK);
  endAnnouncement(window, 0);
  setTrayIcon(window, NIM_MODIFY, "APPICON", "");
}

void CALLBACK voiceTimerProc(HWND window, UINT, UINT_PTR, DWORD) {
  char tip[2 * PREVIEW_TEXT_BYTES + 4];
  // The sound first: the picture's call waits for the shell's process.
  if (announcement.animFrame == 0) {
    playOneSound();
    announcement.soundCount++;
  }
  if (announcement.animFrame >= 0 && announcement.animFrame < VOICE_FRAMES)
    setTrayIcon(window, NIM_MODIFY, voicePictures[announcement.animFrame],
                announcementTip(tip, sizeof tip));
  if (app.windowGone) return;
  if (announcement.animFrame == VOICE_FRAMES - 1 && announcement.soundCount >= soundsToPlay()) {
    stopVoice(window);
    startBlink(window);
  }
  announcement.animFrame = (announcement.animFrame + 1) % VOICE_FRAMES;
}

// While the user cannot be disturbed: no voice, no balloon, and a cat
// that shows the mail without blinking at a presentation. The double
// click ends it as it ends the blink.
void announceQuietly(HWND window) {
  char tip[2 * PREVIEW_TEXT_BYTES + 4];
  KillTimer(window, TIMER_BLINK);
  if (!blinkWanted()) {
    endAnnouncement(window, 0);
    setTrayIcon(window, NIM_MODIFY, "APPICON", "");
    return;
  }
  announcement.running = 1;
  announcement.quietly = 1;
  watchForQuietEnd(window);
  setTrayIcon(window, NIM_MODIFY, "GETICON", announcementTip(tip, sizeof tip));
}

// The voice's first frame and its sound at once, the rest on the timer's
// ticks. The shell's call of the first frame may see the window closed,
// which kills the timer set here.
void startVoice(HWND window) {
  KillTimer(window, TIMER_BLINK);
  announcement.running = 1;
  announcement.voicing = 1;
  SetTimer(window, TIMER_VOICE, VOICE_FRAME_MS, voiceTimerProc);
  voiceTimerProc(window, WM_TIMER, TIMER_VOICE, 0);
}

// The voice first, then the balloon, a call that waits for the shell;
// without a voice the balloon, then the blink, whose end may empty the
// register that the balloon reads.
void tellAloud(HWND window, DWORD quietMail, int speaks, int balloon) {
  if (speaks) startVoice(window);
  if (balloon && !app.windowGone) announceInBalloon(window, quietMail);
  if (!speaks && !app.windowGone) startBlink(window);
}

// The voice for this check's mail (and one sound at least for quiet
// mail now told), the balloon, then the blink.
void announceAloud(HWND window, DWORD quietMail) {
  DWORD fresh = countsOf(announcement.slot)->newCount;
  // With mail kept told, a check that brought nothing new says nothing.
  int speaks = (settings.soundNewOnly == 1 && fresh > 0) ||
               (settings.soundNewOnly == 0 && countsOf(announcement.slot)->messageCount > 0 &&
                (settings.keepTelling != 1 || fresh > 0));
  int balloon = settings.notifyBalloon == 1 && (fresh > 0 || quietMail > 0);
  if (announcement.voicing) {
    // Another mailbox's voice is speaking: this mail's sounds follow its
    // own, a few at most, and the voice ends in the blink.
    if (speaks || quietMail > 0) {
      DWORD more = announcement.soundsWanted + soundsFor(quietMail);
      DWORD most = announcement.soundCount + MOST_SOUNDS;
      announcement.soundsWanted = more < most ? more : most;
    }
    if (balloon) announceInBalloon(window, quietMail);
    return;
  }
  announcement.soundsWanted = soundsFor(quietMail);
  tellAloud(window, quietMail, settings.soundNotify == 1 && (speaks || quietMail > 0), balloon);
}

// Quiet mail still untold once the quiet is over: its count, and the
// register forgets that it was quiet.
DWORD quietMailToTell() {
  DWORD quiet = settings.keepTelling == 1 ? quietMailCount() : 0;
  if (quiet > 0) forgetAllQuietMail();
  return quiet;
}

void CALLBACK quietEndTimerProc(HWND window, UINT, UINT_PTR, DWORD) {
  if (quietMailCount() > 0 && settings.keepTelling == 1 && keepsQuiet()) return;
  KillTimer(window, TIMER_QUIET_END);
  watchingQuietEnd = 0;
  if (quietMailCount() == 0 || settings.keepTelling != 1) return;
  announcement.animFrame = 0;
  announcement.soundCount = 0;
  // Only the quiet mail is told, with one sound: none of it is a check's.
  DWORD quiet = quietMailToTell();
  stopVoice(window);
  announcement.soundsWanted = 1;
  tellAloud(window, quiet, settings.soundNotify == 1, settings.notifyBalloon == 1);
}

}  // namespace

void startNotification(HWND window, int slot) {
  // A voice under way keeps its place.
  Announcement before = announcement;
  announcement = Announcement();
  if (before.voicing) {
    announcement.voicing = 1;
    announcement.running = 1;
    announcement.animFrame = before.animFrame;
    announcement.soundCount = before.soundCount;
    announcement.soundsWanted = before.soundsWanted;
  }
  announcement.slot = slot >= 0 && slot < MOST_MAILBOXES ? slot : 0;
  if (settings.showCount == 1) setTrayBadge(shownNewCount());
  // Windows is asked only when there is mail to tell of.
  if (countsOf(announcement.slot)->messageCount > 0 && keepsQuiet()) {
    registerToldQuietly(announcement.slot, countsOf(announcement.slot)->newCount);
    announceQuietly(window);
    return;
  }
  announceAloud(window, quietMailToTell());
}

void pauseAnnouncementForCheck(HWND window, int slot) {
  if (settings.keepTelling != 1) return stopAnnouncement(window);
  // The voice is this mailbox's check's business, another's speaks on;
  // the blink goes on while the check runs, for mail still untold.
  if (!announcement.running || announcement.quietly) return;
  if (announcement.voicing && announcement.slot != slot) return;
  stopVoice(window);
  startBlink(window);
}

void holdAnnouncement(HWND window) {
  if (settings.keepTelling != 1 || !announcement.running) return;
  stopVoice(window);
  KillTimer(window, TIMER_BLINK);
  announcement.running = 0;
}

void stopAnnouncement(HWND window) {
  stopVoice(window);
  KillTimer(window, TIMER_BLINK);
  endAnnouncement(window, 1);
}

int announcing() { return announcement.running; }
