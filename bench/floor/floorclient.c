/* The floor of the check benchmark: the least a Win32 program can do to
 * send the program's commands (USER, PASS, STAT, one UIDL per message or
 * one bare UIDL, QUIT) to a POP3 server on 127.0.0.1 under the same Wine.
 * Whatever KivvetLE.exe takes beyond this client is the program's own.
 *
 *   floorclient async|blocking PORT [listing] [tray] [timer] [second]
 *
 * async     WSAAsyncSelect on a hidden window, as the program does: every
 *           reply arrives as a window message, at most 255 bytes a recv
 * blocking  plain blocking recv on the one thread
 * listing   one bare UIDL instead of the walk
 * tray      (async) a tray icon whose tooltip changes before USER, PASS
 *           and STAT, as the program shows its progress
 * timer     (async) a 60-second timer restarted on every received chunk
 * second    after the first check, wait for a line on stdin and check
 *           again: the time that counts is that of a running process, as
 *           for the program, without what a process does once
 *
 * The last two put one habit of the program's back at a time, to see what
 * each costs. Exits 0 once the server has answered QUIT. */
#include <windows.h>
#include <winsock.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MSG_SOCKET (WM_USER + 2)

static SOCKET server = INVALID_SOCKET;
static int useListing, useTray, useTimer, useSecond;
static char line[1024];
static size_t lineLength;
static unsigned long messages, next;
static int inListing, done;
static HWND window;

enum { GREETING, USER_REPLY, PASS_REPLY, STAT_REPLY, UIDL_REPLY, LISTING, QUIT_REPLY };
static int state = GREETING;

static void say(const char *text)
{
    send(server, text, (int)strlen(text), 0);
}

static void trayIcon(DWORD action, const char *tip)
{
    NOTIFYICONDATAA record;
    if (!useTray) return;
    memset(&record, 0, sizeof record);
    record.cbSize = NOTIFYICONDATAA_V1_SIZE;
    record.hWnd = window;
    record.uID = 100;
    record.uFlags = action == NIM_DELETE ? 0 : NIF_ICON | NIF_TIP;
    record.hIcon = LoadIconA(NULL, (LPCSTR)IDI_APPLICATION);
    lstrcpynA(record.szTip, tip, sizeof record.szTip);
    Shell_NotifyIconA(action, &record);
}

static void tray(const char *tip)
{
    trayIcon(NIM_MODIFY, tip);
}

static void onLine(const char *text)
{
    char command[32];
    switch (state) {
    case GREETING: tray("user"); say("USER cat\r\n"); state = USER_REPLY; break;
    case USER_REPLY: tray("password"); say("PASS nyan\r\n"); state = PASS_REPLY; break;
    case PASS_REPLY: tray("count"); say("STAT\r\n"); state = STAT_REPLY; break;
    case STAT_REPLY:
        messages = strtoul(text + 4, NULL, 10);
        if (messages == 0) {
            say("QUIT\r\n");
            state = QUIT_REPLY;
        } else if (useListing) {
            say("UIDL\r\n");
            state = LISTING;
        } else {
            next = 1;
            say("UIDL 1\r\n");
            state = UIDL_REPLY;
        }
        break;
    case UIDL_REPLY:
        if (next < messages) {
            sprintf(command, "UIDL %lu\r\n", ++next);
            say(command);
        } else {
            say("QUIT\r\n");
            state = QUIT_REPLY;
        }
        break;
    case LISTING:
        if (!inListing) {
            inListing = 1;
        } else if (text[0] == '.' && (text[1] == '\r' || text[1] == '\0')) {
            say("QUIT\r\n");
            state = QUIT_REPLY;
        }
        break;
    case QUIT_REPLY: done = 1; break;
    }
}

static void take(const char *bytes, int length)
{
    int i;
    for (i = 0; i < length; i++) {
        if (bytes[i] == '\n') {
            line[lineLength] = '\0';
            onLine(line);
            lineLength = 0;
        } else if (lineLength < sizeof line - 1) {
            line[lineLength++] = bytes[i];
        }
    }
}

static void CALLBACK silence(HWND w, UINT m, UINT_PTR id, DWORD t)
{
    (void)w; (void)m; (void)id; (void)t;
    ExitProcess(3);
}

static LRESULT CALLBACK procedure(HWND w, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == MSG_SOCKET && WSAGETSELECTEVENT(lParam) == FD_READ) {
        char chunk[256];
        int got = recv(server, chunk, 255, 0);
        if (got > 0) {
            if (useTimer) SetTimer(w, 2, 60000, silence);
            take(chunk, got);
            if (done) PostQuitMessage(0);
        } else if (got == 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
            PostQuitMessage(2);
        }
        return 0;
    }
    return DefWindowProcA(w, message, wParam, lParam);
}

static struct sockaddr_in address;

static void reset(void)
{
    state = GREETING;
    inListing = 0;
    done = 0;
    lineLength = 0;
    server = socket(AF_INET, SOCK_STREAM, 0);
}

static int blockingCheck(void)
{
    char chunk[4096];
    int got;
    reset();
    if (connect(server, (struct sockaddr *)&address, sizeof address) != 0) return 1;
    while (!done && (got = recv(server, chunk, sizeof chunk, 0)) > 0) take(chunk, got);
    closesocket(server);
    return done ? 0 : 1;
}

static int asyncCheck(void)
{
    MSG message;
    reset();
    WSAAsyncSelect(server, window, MSG_SOCKET, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE);
    connect(server, (struct sockaddr *)&address, sizeof address);
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    KillTimer(window, 2);
    closesocket(server);
    return done ? 0 : 1;
}


int main(int argc, char **argv)
{
    WSADATA data;
    int async, i, result;
    char answer[16];
    if (argc < 3) {
        fprintf(stderr, "usage: floorclient async|blocking PORT [listing] [tray] [timer] [second]\n");
        return 2;
    }
    async = strcmp(argv[1], "async") == 0;
    for (i = 3; i < argc; i++) {
        useListing |= strcmp(argv[i], "listing") == 0;
        useTray |= strcmp(argv[i], "tray") == 0;
        useTimer |= strcmp(argv[i], "timer") == 0;
        useSecond |= strcmp(argv[i], "second") == 0;
    }
    WSAStartup(MAKEWORD(1, 1), &data);
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((u_short)atoi(argv[2]));
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    if (async) {
        WNDCLASSA type;
        memset(&type, 0, sizeof type);
        type.lpfnWndProc = procedure;
        type.hInstance = GetModuleHandleA(NULL);
        type.lpszClassName = "KivvetFloor";
        RegisterClassA(&type);
        window = CreateWindowExA(WS_EX_TOOLWINDOW, "KivvetFloor", "floor", WS_POPUP, 0, 0, 1, 1, NULL, NULL,
                                 type.hInstance, NULL);
        trayIcon(NIM_ADD, "floor");
    }
    result = async ? asyncCheck() : blockingCheck();
    if (result == 0 && useSecond) {
        printf("ready\n");
        fflush(stdout);
        fgets(answer, sizeof answer, stdin);
        result = async ? asyncCheck() : blockingCheck();
    }
    if (async) trayIcon(NIM_DELETE, "floor");
    return result;
}
