/* A stand-in for a mail program. Each start appends one line to the file
 * named by KIVVET_MAILER_LOG, or else to testmailer.log beside the .exe:
 * the current directory, a tab and the full command line as the program
 * got it, ended by LF; then it exits 0 (1 when it could not write).
 * A name starting with "/" is a Linux path, reached through drive Z:.
 * The line goes out in one append, so starts close together do not mix
 * their lines. */
#include <windows.h>
#include <string.h>

static void log_path(char *path, DWORD size)
{
    DWORD n = GetEnvironmentVariableA("KIVVET_MAILER_LOG", path + 2, size - 2);
    if (n > 0 && n < size - 2) {
        if (path[2] == '/') {
            path[0] = 'Z';
            path[1] = ':';
        } else {
            memmove(path, path + 2, n + 1);
        }
        return;
    }
    n = GetModuleFileNameA(NULL, path, size);
    if (n == 0 || n >= size) {
        lstrcpynA(path, "testmailer.log", (int)size);
        return;
    }
    char *slash = strrchr(path, '\\');
    char *start = slash ? slash + 1 : path;
    if ((DWORD)(start - path) + sizeof "testmailer.log" > size) {
        lstrcpynA(path, "testmailer.log", (int)size);
        return;
    }
    memcpy(start, "testmailer.log", sizeof "testmailer.log");
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR args, int show)
{
    (void)instance; (void)previous; (void)args; (void)show;
    static char path[MAX_PATH * 4];
    static char line[MAX_PATH * 4 + 65536];
    log_path(path, sizeof path);

    DWORD dir = GetCurrentDirectoryA(MAX_PATH * 4, line);
    if (dir == 0 || dir >= MAX_PATH * 4)
        dir = 0;
    size_t used = dir;
    line[used++] = '\t';
    const char *command = GetCommandLineA();
    size_t length = strlen(command);
    if (length > sizeof line - used - 1)
        length = sizeof line - used - 1;
    memcpy(line + used, command, length);
    used += length;
    line[used++] = '\n';

    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    BOOL ok = WriteFile(file, line, (DWORD)used, &written, NULL);
    CloseHandle(file);
    return ok && written == used ? 0 : 1;
}
