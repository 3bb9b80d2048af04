// Process entry: Windows Sockets, the window class, the hidden main window
// and the message loop. Everything else happens inside the window's
// handlers, on this one thread.
#include "app/main.h"

#include "app/mainwindow.h"
#include "base/appstate.h"
#include "base/text.h"
#include "resources/version.h"

namespace {

// IPv6 and the overlapped lookup are Windows Sockets 2's.
const WORD WINSOCK_VERSION_2_2 = 0x0202;
const WORD ARROW_CURSOR = 32512;  // IDC_ARROW

void cleanupWinsock(void) { WSACleanup(); }

typedef BOOL(WINAPI* DllDirectoriesSetter)(DWORD flags);

// Libraries the system loads for us by name come from its own folder,
// never from the current directory (the -W data folder) or along PATH.
// Windows without the call still searches the old way.
void restrictLibrarySearch() {
  FARPROC procedure =
      GetProcAddress(GetModuleHandleW(wide("KERNEL32.DLL").text), "SetDefaultDllDirectories");
  if (procedure == NULL) return;
  DllDirectoriesSetter setter =
      reinterpret_cast<DllDirectoriesSetter>(reinterpret_cast<void (*)(void)>(procedure));
  setter(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

int initWinsock() {
  WSADATA data;
  int started = WSAStartup(WINSOCK_VERSION_2_2, &data);
  // The clean-up is registered even when the start failed.
  if (atexit(cleanupWinsock) != 0) {
    MessageBoxW(NULL, wide("atexit(WSACleanup)に失敗しました.").text, wide(APP_TITLE).text,
                MB_ICONERROR);
    return 0;
  }
  if (started != 0) {
    MessageBoxW(NULL, wide("WinSockの初期化に失敗しました.").text, wide(APP_TITLE).text,
                MB_ICONERROR);
    return 0;
  }
  return 1;
}

}  // namespace

int registerMainClass(HINSTANCE instance) {
  WideText className = wide(APP_CLASS_NAME);
  WNDCLASSW windowClass = {};
  windowClass.style = CS_VREDRAW | CS_HREDRAW;
  windowClass.lpfnWndProc = mainWndProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, wide("APPICON").text);
  windowClass.hCursor = LoadCursorW(NULL, MAKEINTRESOURCEW(ARROW_CURSOR));
  windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
  windowClass.lpszClassName = className.text;
  return RegisterClassW(&windowClass) != 0;
}

// A 1 x 1 tool window that is never shown: it owns the timers, receives
// the socket, lookup and tray notifications and owns the dialogs. The
// whole start-up runs inside this call, in WM_CREATE.
HWND createMainWindow(HINSTANCE instance) {
  // Before the first window: Windows 10 and 11 then head the program's
  // notifications with the name and the cat the installer registered
  // under the same ID, not with the file's name. Without the registration
  // (the zip) they look as before.
  SetCurrentProcessExplicitAppUserModelID(wide(KIVVET_APP_USER_MODEL_ID).text);
  return CreateWindowExW(WS_EX_TOOLWINDOW, wide(APP_CLASS_NAME).text, wide(APP_TITLE).text,
                         WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, 1, 1, NULL, NULL, instance, NULL);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int) {
  restrictLibrarySearch();
  if (!initWinsock()) return 0;
  app.appInstance = instance;
  // On 32-bit Windows there is never a previous instance: every copy of
  // the program registers its own class and shows its own icon.
  if (previous == NULL && !registerMainClass(instance)) return 0;
  MSG msg = {};
  // A window whose start-up failed has ended already.
  if (createMainWindow(instance) != NULL) {
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  endProgram();
  return (int)msg.wParam;
}
