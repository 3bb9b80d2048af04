/* Control ids of the dialog templates. Read by windres and by the C++
   sources alike, so plain #define lines only. The help topics of the
   settings pages use a control's own id as their string id and as the
   anchor "topic-<id>" of the help page. */
#ifndef KIVVET_RESOURCES_IDS_H
#define KIVVET_RESOURCES_IDS_H

/* SETTINGDLG1: the account and the check interval */
#define IDC_SERVER_HOST 101
#define IDC_USER_ID 102
#define IDC_PASSWORD 103
#define IDC_PORT 104
#define IDC_PORT_SPIN 105
#define IDC_INTERVAL 106
#define IDC_INTERVAL_SPIN 107
#define IDC_CHECK_AT_STARTUP 108
#define IDC_USE_APOP 109
#define IDC_ACCOUNT_NAME 110
#define IDC_CONNECTION_SECURITY 111
#define IDC_START_AT_LOGON 112
#define IDC_FAST_SCAN 113
#define IDC_PROTECT_PASSWORD 114
#define IDC_MAIL_PROTOCOL 115
// The list of mailboxes above the account of the one chosen.
#define IDC_MAILBOX_LIST 116
#define IDC_MAILBOX_ADD 117
#define IDC_MAILBOX_REMOVE 118
#define IDC_MAILBOX_UP 119
/* the labels that name the protocol (no help topics) */
#define IDC_SERVER_LABEL 120
#define IDC_PORT_LABEL 121

/* SETTINGDLG2: the sound */
#define IDC_SOUND_NOTIFY 201
#define IDC_USE_VOICE 202
#define IDC_USE_BEEP 203
#define IDC_SOUND_NEW_ONLY 204
#define IDC_CUSTOM_VOICE 205
#define IDC_VOICE_PATH 206
#define IDC_VOICE_BROWSE 207
#define IDC_KEEP_TELLING 208
/* the manners: quiet while the user cannot be disturbed, quiet hours */
#define IDC_QUIET_WHILE_BUSY 211
#define IDC_QUIET_HOURS 212
#define IDC_QUIET_FROM 213
#define IDC_QUIET_UNTIL 214

/* SETTINGDLG3: the mail program */
#define IDC_MAILER_PATH 301
#define IDC_MAILER_BROWSE 302
#define IDC_MAILER_ARGS 303

/* SETTINGDLG4: the tooltip and the blink */
#define IDC_TOOLTIP_ACCOUNT 401
#define IDC_TOOLTIP_COUNTS 402
#define IDC_TOOLTIP_BOTH 403
#define IDC_BLINK_NEW_ONLY 404
#define IDC_NOTIFY_BALLOON 405
#define IDC_SHOW_PREVIEWS 406
/* the manners: the count on the icon */
#define IDC_SHOW_COUNT 411

/* TITLEDLG: the picture frame and the version text */
#define IDC_SPLASH_PICTURE 101
#define IDC_SPLASH_VERSION 102

#endif
