/* The end-to-end tests' hand on a running KivvetLE.exe, found by its
 * hidden window's class:
 *
 *   kivvetprobe check   posts the menu's check command (WM_COMMAND 101) to
 *                       every running copy; prints how many got it
 *   kivvetprobe settings posts the menu's settings command (WM_COMMAND 102),
 *                       which opens the settings sheet
 *   kivvetprobe suspend posts the power broadcast that the machine goes to
 *   kivvetprobe resume  sleep (PBT_APMSUSPEND) or woke (PBT_APMRESUMEAUTOMATIC)
 *                       to every running copy, as Windows sends it; prints
 *                       how many got it
 *   kivvetprobe stats   prints the figures of the (first) running copy:
 *                       pid=P handles=H private=BYTES workingset=BYTES
 *                       gdi=N user=N
 *   kivvetprobe codepage prints the system's ANSI code page: acp=N
 *   kivvetprobe tips    prints the text of every tooltip shown on the desktop,
 *                       a line each: balloon=TEXT for the shell's balloons,
 *                       tip=TEXT for the others (the tray icon's, while the
 *                       mouse rests on it); a text's lines joined by " | ",
 *                       in UTF-8. Exits 1 when none shows
 *   kivvetprobe screen  prints the screen as a program aware of the scaling
 *                       sees it: dpi=N size=WIDTHxHEIGHT
 *   kivvetprobe hold    prints "holding" once it is on the prefix's desktop,
 *                       and stays there until it is killed, so that the
 *                       desktop and its taskbar outlive the copies of the
 *                       program started and ended one after another
 *
 * Exits 1 when no copy runs or a figure cannot be had. */
#define PSAPI_VERSION 2
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <stdio.h>
#include <string.h>

static const char CLASS_NAME[] = "KivvetLiteEdition";
static const UINT CMD_CHECK = 101;
static const UINT CMD_SETTINGS = 102;

static int post_to_all(UINT message, WPARAM wParam)
{
    int posted = 0;
    HWND window = NULL;
    while ((window = FindWindowExA(NULL, window, CLASS_NAME, NULL)) != NULL) {
        if (PostMessageW(window, message, wParam, 0)) posted++;
    }
    printf("%d\n", posted);
    return posted > 0 ? 0 : 1;
}

static int print_stats(void)
{
    HWND window = FindWindowA(CLASS_NAME, NULL);
    if (window == NULL) return 1;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (process == NULL) return 1;
    DWORD handles = 0;
    PROCESS_MEMORY_COUNTERS_EX memory;
    memset(&memory, 0, sizeof memory);
    memory.cb = sizeof memory;
    BOOL gotHandles = GetProcessHandleCount(process, &handles);
    BOOL gotMemory = K32GetProcessMemoryInfo(process, (PROCESS_MEMORY_COUNTERS *)&memory, sizeof memory);
    DWORD gdi = GetGuiResources(process, GR_GDIOBJECTS);
    DWORD user = GetGuiResources(process, GR_USEROBJECTS);
    CloseHandle(process);
    if (!gotHandles || !gotMemory) return 1;
    printf("pid=%lu handles=%lu private=%llu workingset=%llu gdi=%lu user=%lu\n", (unsigned long)pid,
           (unsigned long)handles, (unsigned long long)memory.PrivateUsage,
           (unsigned long long)memory.WorkingSetSize, (unsigned long)gdi, (unsigned long)user);
    return 0;
}

static int print_screen(void)
{
    SetProcessDPIAware();
    HDC screen = GetDC(NULL);
    if (screen == NULL) return 1;
    int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(NULL, screen);
    return printf("dpi=%d size=%dx%d\n", dpi, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)) < 0;
}

/* A tooltip answers WM_GETTEXT with the tip it shows, and the message
 * carries its text across to our process: the shell's balloons and the
 * tray icon's tooltip can be read as the user reads them. */
static BOOL CALLBACK print_tip(HWND window, LPARAM shown)
{
    WCHAR className[64];
    if (!IsWindowVisible(window) || !GetClassNameW(window, className, 64) ||
        lstrcmpiW(className, TOOLTIPS_CLASSW) != 0)
        return TRUE;
    WCHAR text[1024];
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, (LPARAM)text, SMTO_ABORTIFHUNG, 5000, &length))
        return TRUE;
    text[length < 1024 ? length : 1023] = L'\0';
    WCHAR line[3 * 1024];
    int used = 0;
    for (const WCHAR *c = text; *c != L'\0'; c++) {
        if (*c == L'\r') continue;
        if (*c == L'\n') {
            line[used++] = L' ';
            line[used++] = L'|';
            line[used++] = L' ';
        } else {
            line[used++] = *c;
        }
    }
    line[used] = L'\0';
    char utf8[4 * 3 * 1024];
    if (!WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, sizeof utf8, NULL, NULL)) return TRUE;
    printf("%s=%s\n", (GetWindowLongW(window, GWL_STYLE) & TTS_BALLOON) ? "balloon" : "tip", utf8);
    (*(int *)shown)++;
    return TRUE;
}

static int print_tips(void)
{
    int shown = 0;
    EnumWindows(print_tip, (LPARAM)&shown);
    return shown > 0 ? 0 : 1;
}

static int hold_desktop(void)
{
    /* Wine closes a desktop a second after its last program has ended; a
     * program starting in that second may join the closing desktop and
     * never get a taskbar. A program that stays keeps the desktop open. */
    GetDesktopWindow();
    printf("holding\n");
    fflush(stdout);
    MSG message;
    while (GetMessageW(&message, NULL, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "check") == 0) return post_to_all(WM_COMMAND, CMD_CHECK);
    if (argc == 2 && strcmp(argv[1], "settings") == 0) return post_to_all(WM_COMMAND, CMD_SETTINGS);
    if (argc == 2 && strcmp(argv[1], "suspend") == 0) return post_to_all(WM_POWERBROADCAST, PBT_APMSUSPEND);
    if (argc == 2 && strcmp(argv[1], "resume") == 0) return post_to_all(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC);
    if (argc == 2 && strcmp(argv[1], "stats") == 0) return print_stats();
    if (argc == 2 && strcmp(argv[1], "codepage") == 0) return printf("acp=%u\n", GetACP()) < 0;
    if (argc == 2 && strcmp(argv[1], "screen") == 0) return print_screen();
    if (argc == 2 && strcmp(argv[1], "tips") == 0) return print_tips();
    if (argc == 2 && strcmp(argv[1], "hold") == 0) return hold_desktop();
    fprintf(stderr, "usage: kivvetprobe check|settings|suspend|resume|stats|codepage|screen|tips|hold\n");
    return 2;
}
