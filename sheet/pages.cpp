// The four pages of the settings sheet. Each fills its controls from the
// settings when first shown and stores them back on OK; Cancel stores
// nothing. A page never shown neither loads nor stores.
#include "sheet/pages.h"

#include <string.h>

#include "base/appstate.h"
#include "resources/ids.h"
#include "settings/settings.h"
#include "sheet/helptip.h"
#include "sheet/logon.h"

namespace {

// Context help, ended by (0, 0). A control's topic is its own id; a spin
// button shares its box's topic.
struct HelpTopic {
  DWORD control;
  DWORD topic;
};

const HelpTopic basicPageHelp[] = {
    {IDC_SERVER_HOST, IDC_SERVER_HOST},
    {IDC_USER_ID, IDC_USER_ID},
    {IDC_PASSWORD, IDC_PASSWORD},
    {IDC_PORT, IDC_PORT},
    {IDC_PORT_SPIN, IDC_PORT},
    {IDC_INTERVAL, IDC_INTERVAL},
    {IDC_INTERVAL_SPIN, IDC_INTERVAL},
    {IDC_CHECK_AT_STARTUP, IDC_CHECK_AT_STARTUP},
    {IDC_USE_APOP, IDC_USE_APOP},
    {IDC_ACCOUNT_NAME, IDC_ACCOUNT_NAME},
    {IDC_CONNECTION_SECURITY, IDC_CONNECTION_SECURITY},
    {IDC_FAST_SCAN, IDC_FAST_SCAN},
    {IDC_START_AT_LOGON, IDC_START_AT_LOGON},
    {IDC_PROTECT_PASSWORD, IDC_PROTECT_PASSWORD},
    {0, 0},
};
const HelpTopic soundPageHelp[] = {
    {IDC_SOUND_NOTIFY, IDC_SOUND_NOTIFY}, {IDC_USE_VOICE, IDC_USE_VOICE},
    {IDC_USE_BEEP, IDC_USE_BEEP},         {IDC_SOUND_NEW_ONLY, IDC_SOUND_NEW_ONLY},
    {IDC_CUSTOM_VOICE, IDC_CUSTOM_VOICE}, {IDC_VOICE_PATH, IDC_VOICE_PATH},
    {IDC_VOICE_BROWSE, IDC_VOICE_BROWSE}, {0, 0},
};
const HelpTopic mailerPageHelp[] = {
    {IDC_MAILER_PATH, IDC_MAILER_PATH},
    {IDC_MAILER_BROWSE, IDC_MAILER_BROWSE},
    {IDC_MAILER_ARGS, IDC_MAILER_ARGS},
    {0, 0},
};
const HelpTopic displayPageHelp[] = {
    {IDC_TOOLTIP_ACCOUNT, IDC_TOOLTIP_ACCOUNT}, {IDC_TOOLTIP_COUNTS, IDC_TOOLTIP_COUNTS},
    {IDC_TOOLTIP_BOTH, IDC_TOOLTIP_BOTH},       {IDC_BLINK_NEW_ONLY, IDC_BLINK_NEW_ONLY},
    {IDC_NOTIFY_BALLOON, IDC_NOTIFY_BALLOON},   {0, 0},
};

const LPARAM PORT_RANGE = MAKELPARAM(32767, 0);
const LPARAM INTERVAL_RANGE = MAKELPARAM(120, 1);
const DWORD CHOOSER_FLAGS = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST;

void setChecked(HWND page, int id, int value) {
  SendDlgItemMessageA(page, id, BM_SETCHECK, value != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
}

int isChecked(HWND page, int id) {
  return SendDlgItemMessageA(page, id, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

// The choices of the connection security box, in the order of the
// SECURITY_* values.
const char* const securityChoices[] = {"暗号化しないにゃ", "STLSで暗号化するにゃ",
                                       "SSL/TLSで暗号化するにゃ"};

// Implicit TLS almost always means port 995, and leaving it for 110; a
// port the user set to anything else is left alone.
void suggestPort(HWND page) {
  int security = (int)SendDlgItemMessageA(page, IDC_CONNECTION_SECURITY, CB_GETCURSEL, 0, 0);
  BOOL isNumber = FALSE;
  UINT port = GetDlgItemInt(page, IDC_PORT, &isNumber, FALSE);
  UINT suggested = port;
  if (security == SECURITY_TLS && port == POP3_PORT) suggested = IMPLICIT_TLS_PORT;
  if (security != SECURITY_TLS && port == IMPLICIT_TLS_PORT) suggested = POP3_PORT;
  if (!isNumber || suggested == port) return;
  SetDlgItemInt(page, IDC_PORT, suggested, FALSE);
  SendDlgItemMessageA(page, IDC_PORT_SPIN, UDM_SETPOS, 0, MAKELPARAM(LOWORD(suggested), 0));
}

// The file keeps the interval in one byte: a longer one is cut to the
// longest it can hold, and the user is told. An empty box or 0 means 1.
int readInterval(HWND page) {
  BOOL isNumber = FALSE;
  UINT minutes = GetDlgItemInt(page, IDC_INTERVAL, &isNumber, FALSE);
  char typed[16] = "";
  GetDlgItemTextA(page, IDC_INTERVAL, typed, sizeof typed);
  // A number too large for GetDlgItemInt is still a number.
  if (!isNumber && typed[0] >= '0' && typed[0] <= '9') minutes = (UINT)MAX_INTERVAL_MINUTES + 1;
  if (minutes == 0) return 1;
  if (minutes <= (UINT)MAX_INTERVAL_MINUTES) return (int)minutes;
  MessageBoxA(page, "到着確認の間隔は1分から255分までにしてにゃ.\n255分にしておくにゃ.", APP_TITLE,
              MB_OK | MB_ICONINFORMATION);
  return MAX_INTERVAL_MINUTES;
}

void enable(HWND page, int id, int enabled) {
  EnableWindow(GetDlgItem(page, id), enabled ? TRUE : FALSE);
}

const NMHDR* notification(LPARAM lParam) { return (const NMHDR*)lParam; }

// The open-file dialog for one box: the chosen path replaces its text.
void chooseFile(HWND page, int box, const char* filter, const char* extension) {
  char path[LONG_TEXT_BYTES] = "";
  OPENFILENAMEA chooser = {};
  chooser.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  chooser.hwndOwner = page;
  chooser.lpstrFilter = filter;
  chooser.lpstrFile = path;
  chooser.nMaxFile = sizeof path;
  chooser.Flags = CHOOSER_FLAGS;
  chooser.lpstrDefExt = extension;
  if (GetOpenFileNameA(&chooser)) SetDlgItemTextA(page, box, path);
}

// Only the first dropped file counts, and only with the right ending
// (compared as written: ".WAV" is not ".wav").
void takeDrop(HWND page, HDROP drop, int considered, int box, const char* ending) {
  char path[LONG_TEXT_BYTES] = "";
  if (considered) DragQueryFileA(drop, 0, path, sizeof path);
  DragFinish(drop);
  size_t length = strlen(path);
  if (length >= 4 && strcmp(path + length - 4, ending) == 0) SetDlgItemTextA(page, box, path);
}

// The voice, the beep and "new mail only" are usable only while the
// sound is on; the own voice only while the sound and the voice are; its
// path and browse button only while all three are.
void updateSoundEnabling(HWND page) {
  int sound = isChecked(page, IDC_SOUND_NOTIFY);
  int voice = sound && isChecked(page, IDC_USE_VOICE);
  int custom = voice && isChecked(page, IDC_CUSTOM_VOICE);
  enable(page, IDC_USE_VOICE, sound);
  enable(page, IDC_USE_BEEP, sound);
  enable(page, IDC_SOUND_NEW_ONLY, sound);
  enable(page, IDC_CUSTOM_VOICE, voice);
  enable(page, IDC_VOICE_PATH, custom);
  enable(page, IDC_VOICE_BROWSE, custom);
}

// Shows the topic of the control a WM_HELP names, if the page's table
// has one; labels and the page itself have none.
void showContextHelp(const HelpTopic* table, const HELPINFO* help) {
  HWND control = (HWND)help->hItemHandle;
  DWORD id = (DWORD)GetWindowLongA(control, GWL_ID);
  for (const HelpTopic* entry = table; entry->control != 0 || entry->topic != 0; entry++)
    if (entry->control == id) {
      showHelpTopic(control, entry->topic);
      return;
    }
}

}  // namespace

INT_PTR CALLBACK basicPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextA(page, IDC_ACCOUNT_NAME, settings.accountName);
      SetDlgItemTextA(page, IDC_SERVER_HOST, settings.serverHost);
      SetDlgItemTextA(page, IDC_USER_ID, settings.userId);
      SetDlgItemTextA(page, IDC_PASSWORD, settings.password);
      SetDlgItemInt(page, IDC_PORT, (UINT)settings.port, FALSE);
      SendDlgItemMessageA(page, IDC_PORT_SPIN, UDM_SETRANGE, 0, PORT_RANGE);
      SendDlgItemMessageA(page, IDC_PORT_SPIN, UDM_SETPOS, 0, MAKELPARAM(LOWORD(settings.port), 0));
      SetDlgItemInt(page, IDC_INTERVAL, (UINT)settings.intervalMinutes, FALSE);
      SendDlgItemMessageA(page, IDC_INTERVAL_SPIN, UDM_SETRANGE, 0, INTERVAL_RANGE);
      SendDlgItemMessageA(page, IDC_INTERVAL_SPIN, UDM_SETPOS, 0,
                          MAKELPARAM(LOWORD(settings.intervalMinutes), 0));
      setChecked(page, IDC_CHECK_AT_STARTUP, settings.checkAtStartup);
      setChecked(page, IDC_USE_APOP, settings.useApop);
      setChecked(page, IDC_FAST_SCAN, settings.fastScan);
      setChecked(page, IDC_START_AT_LOGON, startsAtLogOn());
      setChecked(page, IDC_PROTECT_PASSWORD, settings.protectPassword);
      for (const char* choice : securityChoices)
        SendDlgItemMessageA(page, IDC_CONNECTION_SECURITY, CB_ADDSTRING, 0, (LPARAM)choice);
      SendDlgItemMessageA(page, IDC_CONNECTION_SECURITY, CB_SETCURSEL,
                          (WPARAM)settings.connectionSecurity, 0);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_CONNECTION_SECURITY && HIWORD(wParam) == CBN_SELCHANGE)
        suggestPort(page);
      return TRUE;
    case WM_NOTIFY:
      if (notification(lParam)->code == PSN_APPLY) {
        GetDlgItemTextA(page, IDC_ACCOUNT_NAME, settings.accountName, SHORT_TEXT_BYTES);
        GetDlgItemTextA(page, IDC_SERVER_HOST, settings.serverHost, SHORT_TEXT_BYTES);
        GetDlgItemTextA(page, IDC_USER_ID, settings.userId, SHORT_TEXT_BYTES);
        GetDlgItemTextA(page, IDC_PASSWORD, settings.password, SHORT_TEXT_BYTES);
        // A password that could not be read back showed as an empty box:
        // only one typed into it takes the place of the stored one.
        if (settings.password[0] != '\0') settings.passwordLost = 0;
        settings.port = (int)GetDlgItemInt(page, IDC_PORT, NULL, FALSE);
        settings.intervalMinutes = readInterval(page);
        settings.checkAtStartup = isChecked(page, IDC_CHECK_AT_STARTUP);
        settings.useApop = isChecked(page, IDC_USE_APOP);
        settings.protectPassword = isChecked(page, IDC_PROTECT_PASSWORD);
        settings.fastScan = isChecked(page, IDC_FAST_SCAN);
        // Kept in the user's registry, not in the settings file.
        setStartAtLogOn(isChecked(page, IDC_START_AT_LOGON));
        // The list holds exactly the three choices, in the values' order;
        // with none chosen, an unknown value stays and is refused again.
        int security = (int)SendDlgItemMessageA(page, IDC_CONNECTION_SECURITY, CB_GETCURSEL, 0, 0);
        if (security != CB_ERR) settings.connectionSecurity = security;
      }
      return TRUE;
    case WM_HELP: showContextHelp(basicPageHelp, (const HELPINFO*)lParam); return TRUE;
    default: return FALSE;
  }
}

INT_PTR CALLBACK soundPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      DragAcceptFiles(page, TRUE);
      setChecked(page, IDC_SOUND_NOTIFY, settings.soundNotify);
      setChecked(page, IDC_USE_VOICE, settings.useVoice);
      setChecked(page, IDC_USE_BEEP, settings.useVoice == 0);
      setChecked(page, IDC_SOUND_NEW_ONLY, settings.soundNewOnly);
      setChecked(page, IDC_CUSTOM_VOICE, settings.customVoice);
      SetDlgItemTextA(page, IDC_VOICE_PATH, settings.voicePath);
      updateSoundEnabling(page);
      return TRUE;
    case WM_COMMAND:
      // Only clicks: the whole parameter is the control's id.
      if (wParam == IDC_SOUND_NOTIFY || wParam == IDC_USE_VOICE || wParam == IDC_USE_BEEP ||
          wParam == IDC_CUSTOM_VOICE)
        updateSoundEnabling(page);
      else if (wParam == IDC_VOICE_BROWSE)
        chooseFile(page, IDC_VOICE_PATH, "waveﾌｧｲﾙ(*.wav)\0*.wav\0", "wav");
      return TRUE;
    case WM_DROPFILES:
      takeDrop(page, (HDROP)wParam,
               isChecked(page, IDC_SOUND_NOTIFY) && isChecked(page, IDC_USE_VOICE) &&
                   isChecked(page, IDC_CUSTOM_VOICE),
               IDC_VOICE_PATH, ".wav");
      return TRUE;
    case WM_NOTIFY:
      if (notification(lParam)->code == PSN_APPLY) {
        // Disabled controls are stored with the state they show.
        settings.soundNotify = isChecked(page, IDC_SOUND_NOTIFY);
        settings.useVoice = isChecked(page, IDC_USE_VOICE);
        settings.soundNewOnly = isChecked(page, IDC_SOUND_NEW_ONLY);
        settings.customVoice = isChecked(page, IDC_CUSTOM_VOICE);
        GetDlgItemTextA(page, IDC_VOICE_PATH, settings.voicePath, LONG_TEXT_BYTES);
      }
      return TRUE;
    case WM_HELP: showContextHelp(soundPageHelp, (const HELPINFO*)lParam); return TRUE;
    default: return FALSE;
  }
}

INT_PTR CALLBACK mailerPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      DragAcceptFiles(page, TRUE);
      SetDlgItemTextA(page, IDC_MAILER_PATH, settings.mailerPath);
      SetDlgItemTextA(page, IDC_MAILER_ARGS, settings.mailerArgs);
      return TRUE;
    case WM_COMMAND:
      if (wParam == IDC_MAILER_BROWSE)
        chooseFile(page, IDC_MAILER_PATH, "ﾒｰﾙｿﾌﾄ(*.exe)\0*.exe\0", "exe");
      return TRUE;
    case WM_DROPFILES: takeDrop(page, (HDROP)wParam, 1, IDC_MAILER_PATH, ".exe"); return TRUE;
    case WM_NOTIFY:
      if (notification(lParam)->code == PSN_APPLY) {
        GetDlgItemTextA(page, IDC_MAILER_PATH, settings.mailerPath, LONG_TEXT_BYTES);
        GetDlgItemTextA(page, IDC_MAILER_ARGS, settings.mailerArgs, LONG_TEXT_BYTES);
      }
      return TRUE;
    case WM_HELP: showContextHelp(mailerPageHelp, (const HELPINFO*)lParam); return TRUE;
    default: return FALSE;
  }
}

INT_PTR CALLBACK displayPageProc(HWND page, UINT message, WPARAM, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      // A mode outside 0..2 checks no option at all.
      if (settings.tooltipMode >= 0 && settings.tooltipMode <= 2)
        setChecked(page, IDC_TOOLTIP_ACCOUNT + settings.tooltipMode, 1);
      setChecked(page, IDC_BLINK_NEW_ONLY, settings.blinkNewOnly);
      setChecked(page, IDC_NOTIFY_BALLOON, settings.notifyBalloon);
      return TRUE;
    case WM_NOTIFY:
      if (notification(lParam)->code == PSN_APPLY) {
        settings.tooltipMode = isChecked(page, IDC_TOOLTIP_ACCOUNT)  ? 0
                               : isChecked(page, IDC_TOOLTIP_COUNTS) ? 1
                                                                     : 2;
        settings.blinkNewOnly = isChecked(page, IDC_BLINK_NEW_ONLY);
        settings.notifyBalloon = isChecked(page, IDC_NOTIFY_BALLOON);
      }
      return TRUE;
    case WM_HELP: showContextHelp(displayPageHelp, (const HELPINFO*)lParam); return TRUE;
    default: return FALSE;
  }
}
