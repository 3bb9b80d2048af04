// The voice runs on TIMER_VOICE, five frames of 200 ms per message with
// one sound at the start of each cycle; the blink on TIMER_BLINK, one
// picture every 500 ms. Every picture goes through setTrayIcon with the
// standard tooltip.
#include "tray/notify.h"

#include "app/appstate.h"
#include "settings/settings.h"
#include "tray/trayicon.h"

namespace {

const int VOICE_FRAMES = 5;
const char* const voicePictures[VOICE_FRAMES] = {"APPICON", "VOICE1ICON", "VOICE2ICON",
                                                 "VOICE1ICON", "APPICON"};

// The sound of one message. Asynchronous, and without SND_NODEFAULT: a
// wave file that cannot be played gives the system's default sound, so
// the user still hears that mail came.
void playOneSound() {
  if (settings.useVoice != 1) {
    MessageBeep(0xFFFFFFFF);
  } else if (settings.customVoice != 0) {
    PlaySoundA(settings.voicePath, NULL, SND_FILENAME | SND_ASYNC);
  } else {
    PlaySoundA("VOICE", app.appInstance, SND_RESOURCE | SND_ASYNC);
  }
}

DWORD messagesToAnnounce() { return settings.soundNewOnly != 0 ? app.newCount : app.messageCount; }

void CALLBACK blinkTimerProc(HWND window, UINT, UINT_PTR, DWORD) {
  setTrayIcon(window, NIM_MODIFY, app.blinkPhase != 0 ? "GETICON" : "BLANKICON", "");
  app.blinkPhase = app.blinkPhase == 0 ? 1 : 0;
}

void startBlink(HWND window) {
  if ((settings.blinkNewOnly == 1 && app.newCount > 0) ||
      (settings.blinkNewOnly == 0 && app.messageCount > 0)) {
    SetTimer(window, TIMER_BLINK, BLINK_FRAME_MS, blinkTimerProc);
    return;
  }
  setTrayIcon(window, NIM_MODIFY, "APPICON", "");
}

void CALLBACK voiceTimerProc(HWND window, UINT, UINT_PTR, DWORD) {
  if (app.animFrame >= 0 && app.animFrame < VOICE_FRAMES)
    setTrayIcon(window, NIM_MODIFY, voicePictures[app.animFrame], "");
  if (app.animFrame == 0) {
    playOneSound();
    app.soundCount++;
  } else if (app.animFrame == VOICE_FRAMES - 1 && app.soundCount >= messagesToAnnounce()) {
    KillTimer(window, TIMER_VOICE);
    startBlink(window);
  }
  app.animFrame = (app.animFrame + 1) % VOICE_FRAMES;
}

}  // namespace

void startNotification(HWND window) {
  KillTimer(window, TIMER_RESPONSE);
  startIntervalTimer(window);
  if (settings.soundNotify != 1) {
    startBlink(window);
    return;
  }
  if ((settings.soundNewOnly == 1 && app.newCount > 0) ||
      (settings.soundNewOnly == 0 && app.messageCount > 0)) {
    // The first frame comes with the first tick.
    SetTimer(window, TIMER_VOICE, VOICE_FRAME_MS, voiceTimerProc);
    return;
  }
  startBlink(window);
}
